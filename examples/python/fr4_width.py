"""FR4 microstrip: the trace width for 50 ohm, found by qbr and by the closed form of
Hammerstad and Jensen, with Z0 against width.

A copper trace 35 um thick on 1.6 mm of FR4 (eps_r 4.3, tan d 0.02) at 1 GHz, over a
copper ground 60 mm wide. The substrate is a layer: a slab that runs on beyond
everything, as the closed form assumes. The width for 50 ohm comes from qbr.synthesize
(Brent's method over the solves, to 1e-3 ohm); the closed form (with its correction for
the trace's thickness) is solved by scipy's brentq. Writes python_fr4_width.png.
"""

import math
import os
import time

import matplotlib.pyplot as plt
import numpy as np
from scipy.optimize import brentq

import qbr
from _common import output_dir

H, T, EPS_R, TAN_D = 1.6, 0.035, 4.3, 0.02  # mm
ETA0 = 376.730313668  # ohm


def board(width: float) -> qbr.Model:
    m = qbr.Model(cc=f"FR4 microstrip {width:.4f} mm", lengthunit="mm", frequency=1,
                  frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-H, 0, EPS_R, TAN_D)
    m.rect(-30, 30, -H - T, -H, c=0, nx=400, ny=6)
    return m.rect(-width / 2, width / 2, 0, T, c=1, nx=160, ny=8)


def hammerstad_jensen(width: float) -> float:
    """Z0 of a microstrip of width `width` and thickness T on H of EPS_R (1980)."""
    def z_air(u):
        f = 6 + (2 * math.pi - 6) * math.exp(-((30.666 / u) ** 0.7528))
        return ETA0 / (2 * math.pi) * math.log(f / u + math.sqrt(1 + (2 / u) ** 2))

    def eps_eff(u):
        a = (1 + math.log((u ** 4 + (u / 52) ** 2) / (u ** 4 + 0.432)) / 49
             + math.log(1 + (u / 18.1) ** 3) / 18.7)
        b = 0.564 * ((EPS_R - 0.9) / (EPS_R + 3)) ** 0.053
        return (EPS_R + 1) / 2 + (EPS_R - 1) / 2 * (1 + 10 / u) ** (-a * b)

    u, t = width / H, T / H
    du1 = t / math.pi * math.log(1 + 4 * math.e / (t / math.tanh(math.sqrt(6.517 * u)) ** 2))
    ur = u + 0.5 * (1 + 1 / math.cosh(math.sqrt(EPS_R - 1))) * du1
    return z_air(ur) / math.sqrt(eps_eff(ur))


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    start = time.perf_counter()
    widths = np.linspace(1.0, 5.0, 9)
    table = qbr.sweep(board, width=widths, grid_check=False)
    ok = table[table["error"].isna()]
    if len(ok) != len(widths):
        raise SystemExit(f"some widths failed:\n{table[table['error'].notna()]}")
    found = qbr.synthesize(board, 50.0, "width", (2.5, 3.5), tolerance=1e-3)
    w50, solves = found.value, found.solves
    seconds = time.perf_counter() - start
    w50_hj = brentq(lambda w: hammerstad_jensen(w) - 50.0, 2.5, 3.5, xtol=1e-9)

    fig, ax = plt.subplots(figsize=(7, 5))
    ax.plot(widths, [complex(z).real for z in ok["Z0_ohm"]], "o-", ms=4, label="qbr (Re Z0)")
    fine = np.linspace(1.0, 5.0, 200)
    ax.plot(fine, [hammerstad_jensen(w) for w in fine], "--", label="Hammerstad-Jensen")
    ax.axhline(50, color="0.5", lw=0.8)
    ax.plot([w50], [50], "s", color="tab:blue", label=f"qbr: {w50:.3f} mm for 50 Ω")
    ax.plot([w50_hj], [50], "x", color="tab:orange", ms=9,
            label=f"Hammerstad-Jensen: {w50_hj:.3f} mm")
    ax.set_xlabel("trace width [mm]")
    ax.set_ylabel("Z0 [Ω]")
    ax.set_title("Copper microstrip on 1.6 mm FR4 (εr 4.3, tan δ 0.02), 35 µm, 1 GHz", fontsize=10)
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    path = os.path.join(out, "python_fr4_width.png")
    fig.savefig(path, dpi=90)
    print(f"{len(widths)} widths and {solves} solves of qbr.synthesize in {seconds:.1f} s; "
          f"wrote {os.path.basename(path)}")
    print(f"  {found}")
    print(f"  50 ohm: qbr {w50:.4f} mm, Hammerstad-Jensen {w50_hj:.4f} mm "
          f"({100 * (w50 / w50_hj - 1):+.2f} %)")
    for w, z in zip(widths, ok["Z0_ohm"]):
        print(f"  W = {w:.2f} mm: qbr {complex(z).real:7.3f} ohm, Hammerstad-Jensen "
              f"{hammerstad_jensen(w):7.3f} ohm")


if __name__ == "__main__":
    main()
