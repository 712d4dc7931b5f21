"""The workbench's structure builders: a few numbers in, the text of an input file out.

Each builder writes plain input lines (``rect``, ``el 2``, ``layer``, ``permittivity``),
so what the form makes is what the editor shows, and a sweep over one of its parameters
is the same text written again with another value. Lengths are in the builder's
``lengthunit``; the defaults of the microstrip are the README's quick-start model.
"""

from __future__ import annotations

import math
from typing import Any, Callable

# name, label, default, smallest allowed (exclusive unless None)
Field = tuple[str, str, float, float | None]

_COMMON: list[Field] = [
    ("frequency_ghz", "frequency [GHz]", 10.0, 0.0),
    ("er", "relative permittivity (1: none)", 1.0, 0.0),
    ("tand", "loss tangent", 0.0, None),
    ("lambda_um", "penetration depth (superconductor) [length unit]", 0.09, 0.0),
    ("sigma_ms_m", "conductivity (copper) [MS/m]", 58.0, 0.0),
]

_FIELDS: dict[str, list[Field]] = {
    "microstrip": [
        ("w", "strip width", 2.0, 0.0),
        ("t", "strip thickness", 0.2, 0.0),
        ("h", "height above the ground", 0.2, 0.0),
        ("ground_w", "ground width", 20.0, 0.0),
        ("ground_t", "ground thickness", 0.2, 0.0),
    ],
    "stripline": [
        ("w", "strip width", 2.0, 0.0),
        ("t", "strip thickness", 0.2, 0.0),
        ("h", "gap to each ground", 0.3, 0.0),
        ("ground_w", "ground width", 10.0, 0.0),
        ("ground_t", "ground thickness", 0.2, 0.0),
    ],
    "cpw": [
        ("w", "centre width", 10.0, 0.0),
        ("s", "gap", 6.0, 0.0),
        ("g", "ground width", 40.0, 0.0),
        ("t", "film thickness", 0.2, 0.0),
        ("h", "substrate thickness", 100.0, 0.0),
    ],
    "coupled": [
        ("w", "strip width", 2.0, 0.0),
        ("s", "spacing", 1.0, 0.0),
        ("t", "strip thickness", 0.2, 0.0),
        ("h", "height above the ground", 0.2, 0.0),
        ("ground_w", "ground width", 20.0, 0.0),
        ("ground_t", "ground thickness", 0.2, 0.0),
    ],
    "coax": [
        ("a", "wire radius", 1.0, 0.0),
        ("b", "tube inner radius", 3.0, 0.0),
        ("tube_t", "tube thickness", 1.0, 0.0),
    ],
}

_TITLES = {
    "microstrip": "Microstrip",
    "stripline": "Stripline",
    "cpw": "Coplanar waveguide",
    "coupled": "Coupled microstrip pair",
    "coax": "Coaxial line",
}

METALS = ("superconductor", "copper")
UNITS = ("um", "mm")


class BuildError(ValueError):
    """Parameters a builder cannot make a cross-section of (the message says which)."""


def specs() -> list[dict[str, Any]]:
    """What the front end needs to draw the forms: every builder with its fields."""
    return [
        {
            "kind": kind,
            "title": _TITLES[kind],
            "fields": [{"name": n, "label": label, "default": d} for n, label, d, _ in fields + _COMMON],
            "metals": list(METALS),
            "units": list(UNITS),
        }
        for kind, fields in _FIELDS.items()
    ]


def _g(x: float) -> str:
    return f"{x:.10g}"


def _count(length: float, spacing: float, least: int = 6) -> int:
    return max(least, min(500, int(math.ceil(length / spacing - 1e-9))))


def _values(kind: str, params: dict[str, Any]) -> dict[str, float]:
    values: dict[str, float] = {}
    for name, _, default, lowest in _FIELDS[kind] + _COMMON:
        raw = params.get(name, default)
        try:
            value = float(raw)
        except (TypeError, ValueError):
            raise BuildError(f"{name}: {raw!r} is not a number") from None
        if not math.isfinite(value):
            raise BuildError(f"{name}: {raw!r} is not a finite number")
        if lowest is not None and value <= lowest:
            raise BuildError(f"{name} must be above {_g(lowest)}, not {_g(value)}")
        if lowest is None and value < 0:
            raise BuildError(f"{name} must not be negative, not {_g(value)}")
        values[name] = value
    unknown = set(params) - set(values) - {"metal", "lengthunit"}
    if unknown:
        raise BuildError(f"{kind} has no parameter {sorted(unknown)[0]!r}")
    return values


def build(kind: str, params: dict[str, Any] | None = None) -> str:
    """The input text of structure ``kind`` (one of :func:`specs`) with ``params``."""
    if kind not in _FIELDS:
        raise BuildError(f"no builder {kind!r}: one of {', '.join(_FIELDS)}")
    params = dict(params or {})
    metal = str(params.get("metal", "superconductor"))
    unit = str(params.get("lengthunit", "um"))
    if metal not in METALS:
        raise BuildError(f"metal {metal!r} is neither {' nor '.join(METALS)}")
    if unit not in UNITS:
        raise BuildError(f"lengthunit {unit!r} is neither {' nor '.join(UNITS)}")
    v = _values(kind, params)
    body: list[str] = []
    head = [f"cc {_TITLES[kind]} ({metal}), built by the workbench", f"lengthunit {unit}",
            f"frequency {_g(v['frequency_ghz'])} ghz"]
    if metal == "superconductor":
        head.append(f"lambda {_g(v['lambda_um'])}")
    else:
        head += ["variables impedance", f"patch 0 nc {_g(v['sigma_ms_m'])}"]
    _BUILDERS[kind](v, head, body)
    return "\n".join(head + body) + "\n"


def _dielectric_everywhere(v: dict[str, float], head: list[str]) -> None:
    if v["er"] != 1.0 or v["tand"] > 0:
        head.append(f"permittivity {_g(v['er'])}")
        if v["tand"] > 0:
            head.append(f"losstangent {_g(v['tand'])}")


def _microstrip(v: dict[str, float], head: list[str], body: list[str]) -> None:
    w, t, h, gw, gt = v["w"], v["t"], v["h"], v["ground_w"], v["ground_t"]
    if gw <= w:
        raise BuildError("the ground must be wider than the strip")
    if v["er"] != 1.0:
        head.append(f"layer 0 {_g(h)} {_g(v['er'])} {_g(v['tand'])}")
    else:
        _dielectric_everywhere(v, head)
    body.append("rem ground strip: conductor 0 (the return)")
    body.append(f"rect {_g(-gw / 2)} {_g(gw / 2)} {_g(-gt)} 0 0 0 {_count(gw, gw / 500)} {_count(gt, gt / 10)}")
    body.append("rem signal strip: conductor 1")
    body.append(f"rect {_g(-w / 2)} {_g(w / 2)} {_g(h)} {_g(h + t)} 1 0 {_count(w, w / 100)} {_count(t, t / 10)}")


def _stripline(v: dict[str, float], head: list[str], body: list[str]) -> None:
    w, t, h, gw, gt = v["w"], v["t"], v["h"], v["ground_w"], v["ground_t"]
    if gw <= w:
        raise BuildError("the grounds must be wider than the strip")
    _dielectric_everywhere(v, head)
    top = 2 * h + t
    body.append("rem lower and upper ground planes: conductor 0 (the return)")
    body.append(f"rect {_g(-gw / 2)} {_g(gw / 2)} {_g(-gt)} 0 0 0 500 10")
    body.append(f"rect {_g(-gw / 2)} {_g(gw / 2)} {_g(top)} {_g(top + gt)} 0 0 500 10")
    body.append("rem the strip: conductor 1")
    body.append(f"rect {_g(-w / 2)} {_g(w / 2)} {_g(h)} {_g(h + t)} 1 0 200 20")


def _cpw(v: dict[str, float], head: list[str], body: list[str]) -> None:
    w, s, g, t, h = v["w"], v["s"], v["g"], v["t"], v["h"]
    head.append("grid graded")
    if v["er"] != 1.0:
        head.append(f"layer {_g(-h)} 0 {_g(v['er'])} {_g(v['tand'])}")
    else:
        _dielectric_everywhere(v, head)
    edge = w / 2 + s
    body.append("rem ground films beside the gaps: conductor 0 (the return)")
    body.append(f"rect {_g(-edge - g)} {_g(-edge)} 0 {_g(t)} 0 0 200 8")
    body.append(f"rect {_g(edge)} {_g(edge + g)} 0 {_g(t)} 0 0 200 8")
    body.append("rem centre conductor: conductor 1")
    body.append(f"rect {_g(-w / 2)} {_g(w / 2)} 0 {_g(t)} 1 0 150 8")


def _coupled(v: dict[str, float], head: list[str], body: list[str]) -> None:
    w, s, t, h, gw, gt = v["w"], v["s"], v["t"], v["h"], v["ground_w"], v["ground_t"]
    if gw <= 2 * w + s:
        raise BuildError("the ground must be wider than the pair")
    if v["er"] != 1.0:
        head.append(f"layer 0 {_g(h)} {_g(v['er'])} {_g(v['tand'])}")
    else:
        _dielectric_everywhere(v, head)
    body.append("rem ground strip: conductor 0 (the return)")
    body.append(f"rect {_g(-gw / 2)} {_g(gw / 2)} {_g(-gt)} 0 0 0 400 10")
    body.append("rem the two strips: conductors 1 and 2")
    body.append(f"rect {_g(-s / 2 - w)} {_g(-s / 2)} {_g(h)} {_g(h + t)} 1 0 80 10")
    body.append(f"rect {_g(s / 2)} {_g(s / 2 + w)} {_g(h)} {_g(h + t)} 2 0 80 10")


def _coax(v: dict[str, float], head: list[str], body: list[str]) -> None:
    a, b, tt = v["a"], v["b"], v["tube_t"]
    if b <= a:
        raise BuildError("the tube's inner radius must exceed the wire's radius")
    _dielectric_everywhere(v, head)
    body.append("rem the wire (conductor 1), counter-clockwise")
    body.append(f"el 2 1 0 0 {_g(a)} + 0 200")
    body.append("rem the tube (conductor 0): its bore clockwise, its outside counter-clockwise")
    body.append(f"el 2 0 0 0 {_g(b)} - 0 400")
    body.append(f"el 2 0 0 0 {_g(b + tt)} + 0 400")


_BUILDERS: dict[str, Callable[[dict[str, float], list[str], list[str]], None]] = {
    "microstrip": _microstrip,
    "stripline": _stripline,
    "cpw": _cpw,
    "coupled": _coupled,
    "coax": _coax,
}
