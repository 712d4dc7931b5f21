"""The calibration set of the grid-error estimate: cross-sections whose printed entries
are known far better than any grid a user would run them on.

Every model is a function of a count scale `s` (every grid count multiplied by s,
rounded, at least 3) and of the grid kind ("even" as files get by default, "graded" as
the library uses). `USED` lists the grids a user might run: (model, kind, s). The
reference of a model is its graded solution extrapolated from three fine grids
(`REFERENCE_SCALES`), or a closed form where one exists.
"""

from __future__ import annotations

import math

REFERENCE_SCALES = (2.0, 2.0 * math.sqrt(2.0), 4.0)


def n(count: float, s: float) -> int:
    return max(3, int(round(count * s)))


def header(unit: str, freq: str, variables: str, grid: str, extra: str = "") -> str:
    g = "grid graded\n" if grid == "graded" else ""
    return f"lengthunit {unit}\nfrequency {freq}\nvariables {variables}\n{g}{extra}"


def copper_microstrip(freq_ghz: float, strip=(50, 3), ground=(20, 3)):
    """200 x 35 um copper strip 100 um above a 2 mm x 35 um copper ground."""
    def text(s: float, grid: str) -> str:
        return (header("um", f"{freq_ghz} ghz", "impedance", grid, "patch 0 nc 58\n")
                + f"rect -1000 1000 -35 0 0 0 {n(ground[0], s)} {n(ground[1], s)}\n"
                + f"rect -100 100 100 135 1 0 {n(strip[0], s)} {n(strip[1], s)}\n")
    return text


def sc_coupled(gap: float, counts=(20, 4)):
    """Two niobium-like strips 2 um x 0.2 um, `gap` apart, 0.2 um above a ground plane
    (by symmetry), in a dielectric of 4."""
    def text(s: float, grid: str) -> str:
        x = gap / 2.0
        return (header("um", "1 ghz", "phases", grid,
                       "symmetry on\nlambda 0.09\npermittivity 4\n")
                + f"rect {-x - 2} {-x} 0.2 0.4 1 0 {n(counts[0], s)} {n(counts[1], s)}\n"
                + f"rect {x} {x + 2} 0.2 0.4 2 0 {n(counts[0], s)} {n(counts[1], s)}\n")
    return text


def sc_wire_over_plane(gap: float, count=24):
    """A superconducting wire of radius 1 um, `gap` above a ground plane (symmetry)."""
    def text(s: float, grid: str) -> str:
        return (header("um", "1 ghz", "phases", grid,
                       "symmetry on\nlambda 0.05\npermittivity 1\n")
                + f"pt 0 0 {1 + gap}\ncircle 1 0 1 + 0 {n(count, s)}\n")
    return text


def sc_bundle(count=16):
    """Five superconducting wires of radius 1 um in a row, 0.2 um apart, 1.5 um above a
    ground plane (symmetry)."""
    def text(s: float, grid: str) -> str:
        body = "".join(f"pt {i} {2.2 * (i - 2)} 2.5\ncircle {i + 1} {i} 1 + 0 {n(count, s)}\n"
                       for i in range(5))
        return header("um", "1 ghz", "phases", grid,
                      "symmetry on\nlambda 0.05\npermittivity 2\n") + body
    return text


def sc_thin_film(counts=(10, 3)):
    """A 5 nm film 2 um wide (lambda 0.4 um) 0.2 um over a 0.5 um ground 10 um wide."""
    def text(s: float, grid: str) -> str:
        return (header("um", "1 ghz", "phases", grid, "lambda 0.4\npermittivity 4\n")
                + f"rect -5 5 -0.5 0 0 0 {n(2 * counts[0], s)} {n(counts[1], s)}\n"
                + f"rect -1 1 0.2 0.205 1 0 {n(counts[0], s)} {n(counts[1], s)}\n")
    return text


def sc_microstrip(counts=(40, 6)):
    """The superconducting microstrip of the quick start's kind: 2 x 0.2 um strip 0.2 um
    over a 10 x 0.2 um ground, lambda 0.09 um."""
    def text(s: float, grid: str) -> str:
        return (header("um", "1 ghz", "phases", grid, "lambda 0.09\npermittivity 4\n")
                + f"rect -5 5 -0.2 0 0 0 {n(2 * counts[0], s)} {n(counts[1], s)}\n"
                + f"rect -1 1 0.2 0.4 1 0 {n(counts[0], s)} {n(counts[1], s)}\n")
    return text


def copper_pair(freq_ghz: float, counts=(10, 5)):
    """Two copper bars 10 x 5 um, 5 um apart (one the return): skin and proximity effect."""
    def text(s: float, grid: str) -> str:
        return (header("um", f"{freq_ghz} ghz", "impedance", grid, "patch 0 nc 58\n")
                + f"rect -12.5 -2.5 0 5 0 0 {n(counts[0], s)} {n(counts[1], s)}\n"
                + f"rect 2.5 12.5 0 5 1 0 {n(counts[0], s)} {n(counts[1], s)}\n")
    return text


def coax(kind: str, freq_ghz: float, count=12):
    """A coax, wire radius 1 um, tube 3 to 4 um: superconducting or copper."""
    def text(s: float, grid: str) -> str:
        mat = "lambda 0.09\n" if kind == "sc" else "patch 0 nc 58\n"
        var = "phases" if kind == "sc" else "impedance"
        return (header("um", f"{freq_ghz} ghz", var, grid, mat + "pt 0 0 0\n")
                + f"circle 1 0 1 + 0 {n(count, s)}\n"
                + f"circle 0 0 3 - 0 {n(3 * count, s)}\ncircle 0 0 4 + 0 {n(4 * count, s)}\n")
    return text


def cpw_silicon(counts=(40, 4)):
    """A superconducting CPW on silicon: 10 um centre, 6 um gaps, 0.2 um films, grounds
    out to +-60 um, on a silicon region 120 x 60 um."""
    def text(s: float, grid: str) -> str:
        return (header("um", "5 ghz", "phases", grid, "lambda 0.09\ndielectric 1 11.7\n")
                + f"rect -60 60 -60 0 0 1 {n(2 * counts[0], s)} {n(counts[0], s)}\n"
                + f"rect -60 -11 0 0.2 0 0 {n(counts[0], s)} {n(counts[1], s)}\n"
                + f"rect 11 60 0 0.2 0 0 {n(counts[0], s)} {n(counts[1], s)}\n"
                + f"rect -5 5 0 0.2 1 0 {n(counts[0], s)} {n(counts[1], s)}\n")
    return text


def fr4_microstrip(counts=(30, 4)):
    """Copper microstrip on FR4 at 1 GHz: 3 mm x 35 um strip on 1.6 mm FR4 (a 20 mm
    region) over a 20 mm ground."""
    def text(s: float, grid: str) -> str:
        return (header("mm", "1 ghz", "impedance", grid, "patch 0 nc 58\ndielectric 1 4.3 0.02\n")
                + f"rect -10 10 -1.6 0 0 1 {n(2 * counts[0], s)} {n(counts[0], s)}\n"
                + f"rect -10 10 -1.635 -1.6 0 0 {n(2 * counts[0], s)} {n(counts[1], s)}\n"
                + f"rect -1.5 1.5 0 0.035 1 0 {n(counts[0], s)} {n(counts[1], s)}\n")
    return text


MODELS = {
    **{f"cu_microstrip_{f}GHz": copper_microstrip(f) for f in (1, 10, 100, 1000)},
    **{f"cu_microstrip_fine_{f}GHz": copper_microstrip(f, (100, 8), (100, 8)) for f in (1, 10, 1000)},
    **{f"sc_coupled_gap{g}": sc_coupled(g) for g in (0.002, 0.02, 0.2, 1.0)},
    **{f"sc_wire_gap{g}": sc_wire_over_plane(g) for g in (0.001, 0.01, 0.1, 1.0)},
    "sc_bundle": sc_bundle(),
    "sc_thin_film": sc_thin_film(),
    "sc_thin_film_20": sc_thin_film((20, 3)),
    "sc_microstrip": sc_microstrip(),
    "sc_microstrip_coarse": sc_microstrip((12, 3)),
    **{f"cu_pair_{f}GHz": copper_pair(f) for f in (1, 10, 100, 1000)},
    "sc_coax": coax("sc", 1),
    **{f"cu_coax_{f}GHz": coax("nc", f) for f in (1, 100)},
    "cu_coax_1000GHz": coax("nc", 1000),
    **{f"cu_pair_{f}GHz": copper_pair(f) for f in (3, 30)},
    "sc_coupled_coarse_gap0.002": sc_coupled(0.002, (10, 3)),
    "sc_wire_gap0.01": sc_wire_over_plane(0.01),
    "cpw_silicon": cpw_silicon(),
    "fr4_microstrip": fr4_microstrip(),
}

# Reference families where the model's own counts, even four times over, do not
# converge to well below the errors judged: the same cross-section on finer base counts.
REFERENCES = {
    **{f"cu_microstrip_{f}GHz": copper_microstrip(f, (120, 12), (120, 12)) for f in (1, 10, 100, 1000)},
    **{f"cu_microstrip_fine_{f}GHz": copper_microstrip(f, (120, 12), (120, 12)) for f in (1, 10, 1000)},
    **{f"cu_pair_{f}GHz": copper_pair(f, (100, 50)) for f in (1, 3, 10, 30, 100, 1000)},
    "sc_coupled_coarse_gap0.002": sc_coupled(0.002, (100, 10)),
    "fr4_microstrip": fr4_microstrip((120, 12)),
    "cpw_silicon": cpw_silicon((120, 12)),
    "sc_thin_film": sc_thin_film((100, 4)),
    "sc_thin_film_20": sc_thin_film((100, 4)),
    "sc_coupled_gap0.002": sc_coupled(0.002, (100, 10)),
    "sc_coupled_gap0.02": sc_coupled(0.02, (100, 10)),
    # The field between a wire and the plane 1e-3 or 1e-2 of its radius below varies over
    # sqrt(2 r gap): a circle of fewer than a few hundred nodes does not see it.
    "sc_wire_gap0.001": sc_wire_over_plane(0.001, 120),
    "sc_wire_gap0.01": sc_wire_over_plane(0.01, 120),
}

# Closed forms. The capacitance treats conductors as perfect: a wire of radius a whose
# centre is h above a plane has C = 2 pi eps / acosh(h / a).
EPS0 = 8.8541878128e-12
EXACT = {f"sc_wire_gap{g}": {"C[1,1]": 2 * math.pi * EPS0 / math.acosh(1 + g)}
         for g in (0.001, 0.01, 0.1, 1.0)}
EXACT["sc_coax"] = {"C[1,1]": 2 * math.pi * EPS0 / math.log(3.0)}

# The grids a user runs: every model on the even grid and on the graded grid at its
# own counts.
USED = [(name, kind) for name in MODELS for kind in ("even", "graded")]
