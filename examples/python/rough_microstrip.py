"""Rough copper: the conductor loss of an FR4-like microstrip from 1 to 50 GHz, with the
foil's roughness against smooth copper.

A 3 mm wide trace of 35 um copper over a 20 mm copper ground 1.6 mm below it, in a
homogeneous dielectric of relative permittivity 4.3 (the trace's surroundings are taken
as all FR4). The roughness of both conductors is given three ways: Hammerstad-Jensen and
Groisse with an rms height of 1 um, and Huray's snowball model with an illustrative set
of spheres (radius 0.5 um, 14 of them on each 115 um^2 of surface; not a measured foil);
and once with the Hammerstad roughness on the trace alone. The ratio R / R_smooth is the
ratio of the conductor attenuation, since the roughness leaves L and C as they are.
Writes python_rough_microstrip.png.
"""

import os
import time

import matplotlib.pyplot as plt
import numpy as np

import qbr
from _common import output_dir

ROUGHNESS = {
    "Hammerstad, 1 µm rms": ("hammerstad", 0.001),
    "Groisse, 1 µm rms": ("groisse", 0.001),
    "Huray, 0.5 µm spheres, 14 per 115 µm²": ("huray", 0.0005, 14, 0.000115),
}
TRACE_ONLY = "Hammerstad on the trace only"


def microstrip(roughness: str, frequency_Hz: float) -> qbr.Model:
    """The microstrip in millimetres: the ground's top is split in three so that its part
    under the trace, where the return current runs, gets the fine grid. At 50 GHz a grid
    with twice the nodes moves R by 0.03 % and the trace's share of it by 0.05 %."""
    m = qbr.Model(lengthunit="mm", frequency=frequency_Hz, frequency_unit="hz",
                  variables="impedance", permittivity=4.3)
    m.patch(0, "nc", 58).patch(1, "nc", 58)  # the ground, the trace
    if roughness == TRACE_ONLY:
        m.roughness(1, *ROUGHNESS["Hammerstad, 1 µm rms"])
    else:
        m.roughness(0, *ROUGHNESS[roughness]).roughness(1, *ROUGHNESS[roughness])
    bottom, top = -1.635, -1.6
    m.line(0, (-10, bottom), (10, bottom), 0, 80).line(0, (10, bottom), (10, top), 0, 4)
    m.line(0, (10, top), (3, top), 0, 50).line(0, (3, top), (-3, top), 0, 200)
    m.line(0, (-3, top), (-10, top), 0, 50).line(0, (-10, top), (-10, bottom), 0, 4)
    return m.rect(-1.5, 1.5, 0, 0.035, c=1, patch=1, nx=200, ny=16)


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    frequencies = np.concatenate(([1e9], np.arange(2, 51, 2) * 1e9))  # 1, 2, 4, ..., 50 GHz
    variants = list(ROUGHNESS) + [TRACE_ONLY]
    start = time.perf_counter()
    table = qbr.sweep(microstrip, roughness=variants, frequency_Hz=frequencies, grid_check=False)
    seconds = time.perf_counter() - start
    if table["error"].notna().any():
        raise SystemExit(f"some points failed:\n{table[table['error'].notna()]}")
    table["ratio"] = table["R_ohm_per_m"] / table["R_smooth_ohm_per_m"]

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.3))
    for variant in variants:
        rows = table[table["roughness"] == variant]
        left.plot(rows["frequency_Hz"] / 1e9, rows["ratio"], label=variant,
                  ls="--" if variant == TRACE_ONLY else "-")
    left.axhline(2, color="grey", lw=0.8, ls=":")
    left.set_ylim(1, 2.05)
    left.set_xlabel("frequency [GHz]")
    left.set_ylabel("R / R of smooth copper")
    left.set_title("Conductor loss with rough copper", fontsize=10)
    left.legend(fontsize=8)
    left.grid(True, alpha=0.3)

    smooth = table[table["roughness"] == variants[0]]
    right.plot(smooth["frequency_Hz"] / 1e9, smooth["R_smooth_ohm_per_m"], color="black",
               label="smooth copper")
    for variant in variants[:3]:
        rows = table[table["roughness"] == variant]
        right.plot(rows["frequency_Hz"] / 1e9, rows["R_ohm_per_m"], label=variant)
    right.set_xlabel("frequency [GHz]")
    right.set_ylabel("R [Ω/m]")
    right.set_title("3 mm trace 1.6 mm over its ground, εr 4.3", fontsize=10)
    right.legend(fontsize=8)
    right.grid(True, alpha=0.3)
    fig.tight_layout()
    path = os.path.join(out, "python_rough_microstrip.png")
    fig.savefig(path, dpi=90)

    print(f"{len(variants)} roughness models at {len(frequencies)} frequencies in {seconds:.1f} s; "
          f"wrote {os.path.basename(path)}")
    for f in (1e9, 10e9, 50e9):
        rows = table[np.isclose(table["frequency_Hz"], f)]
        smooth_r = rows["R_smooth_ohm_per_m"].iloc[0]
        print(f"  {f / 1e9:4.0f} GHz: smooth R {smooth_r:7.3f} ohm/m; R / R_smooth: "
              + ", ".join(f"{v.split(',')[0] if v != TRACE_ONLY else 'trace only'} "
                          f"{rows[rows['roughness'] == v]['ratio'].iloc[0]:.3f}" for v in variants))


if __name__ == "__main__":
    main()
