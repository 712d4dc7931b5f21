"""Copper coax: R(f) and L(f) from 1 Hz to 10 GHz, computed by qbr and from the exact
solution with Bessel functions.

The bundled examples/coax_copper.txt (wire radius 0.5 mm, tube 1.75 to 2 mm, 58 MS/m),
swept over frequency in one line. From direct current, where the current fills both
metals, to the skin effect, where it runs in a layer far thinner than the wire, the
resistance grows by four decades and the inductance falls to that of the field between
the conductors. Writes python_coax_frequency.png.
"""

import math
import os
import time

import matplotlib.pyplot as plt
import numpy as np
from scipy import special

import qbr
from _common import output_dir

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
SIGMA = 58e6  # S/m
A, B, C = 0.5e-3, 1.75e-3, 2e-3  # m
MU0 = 4e-7 * math.pi


def exact_impedance(f: float) -> complex:
    """Z per metre of the coax, exact: the field between the conductors plus the internal
    impedance of the wire and of the tube, with gamma = sqrt(j omega mu0 sigma),

        Z_wire = gamma / (2 pi a sigma) I0(gamma a) / I1(gamma a)
        Z_tube = gamma / (2 pi b sigma) [I0(gb) K1(gc) + K0(gb) I1(gc)] / [I1(gc) K1(gb) - I1(gb) K1(gc)]

    (the tube's outside carries no field). The Bessel functions are taken scaled, so that
    nothing overflows many skin depths deep."""
    w = 2 * math.pi * f
    g = np.sqrt(1j * w * MU0 * SIGMA)
    ga, gb, gc = g * A, g * B, g * C
    wire = g / (2 * math.pi * A * SIGMA) * special.ive(0, ga) / special.ive(1, ga)
    # rho = I1(gb) K1(gc) / (I1(gc) K1(gb)): the share of the tube's outside, small when
    # the tube is many skin depths thick.
    rho = (special.ive(1, gb) * special.kve(1, gc) / (special.ive(1, gc) * special.kve(1, gb))
           * np.exp(abs(gb.real) - abs(gc.real) - (gc - gb)))
    i0_i1 = special.ive(0, gb) / special.ive(1, gb)
    k0_k1 = special.kve(0, gb) / special.kve(1, gb)
    tube = g / (2 * math.pi * B * SIGMA) * (i0_i1 * rho + k0_k1) / (1 - rho)
    return complex(wire + tube + 1j * w * MU0 / (2 * math.pi) * math.log(B / A))


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    coax = qbr.Model.from_file(os.path.join(ROOT, "examples", "coax_copper.txt"))
    frequencies = np.logspace(0, 10, 11)
    start = time.perf_counter()
    table = qbr.frequency_sweep(coax, frequencies)
    seconds = time.perf_counter() - start
    ok = table[table["error"].isna()]
    if len(ok) != len(frequencies):
        raise SystemExit(f"some frequencies failed:\n{table[table['error'].notna()]}")
    exact = np.array([exact_impedance(f) for f in frequencies])
    w = 2 * np.pi * frequencies
    r_exact, l_exact = exact.real, exact.imag / w
    r, l = ok["R_ohm_per_m"].to_numpy(), ok["L_H_per_m"].to_numpy()

    fig, axes = plt.subplots(3, 1, figsize=(7, 9), sharex=True,
                             gridspec_kw=dict(height_ratios=[2, 2, 1.4]))
    fine = np.logspace(0, 10, 300)
    z_fine = np.array([exact_impedance(f) for f in fine])
    qbr.plot.sweep(table, "frequency_Hz", "R_ohm_per_m", ax=axes[0], ls="none", label="qbr")
    axes[0].plot(fine, z_fine.real, color="tab:red", lw=1, label="exact")
    axes[0].set_ylabel("R [Ω/m]")
    qbr.plot.sweep(table, "frequency_Hz", "L_H_per_m", ax=axes[1], ls="none", label="qbr",
                   logy=False)
    axes[1].plot(fine, z_fine.imag / (2 * np.pi * fine), color="tab:red", lw=1, label="exact")
    axes[1].set_ylabel("L [H/m]")
    for ax in axes[:2]:
        ax.legend()
        ax.set_xlabel("")
    axes[2].semilogx(frequencies, np.abs(r / r_exact - 1), "o-", ms=3, label="R")
    axes[2].semilogx(frequencies, np.abs(l / l_exact - 1), "s-", ms=3, label="L")
    axes[2].set_yscale("log")
    axes[2].set_ylabel("|qbr / exact − 1|")
    axes[2].set_xlabel("frequency [Hz]")
    axes[2].legend()
    axes[2].grid(True, which="both", alpha=0.3)
    axes[0].set_title("Copper coax, wire 0.5 mm, tube 1.75–2 mm", fontsize=10)
    fig.tight_layout()
    path = os.path.join(out, "python_coax_frequency.png")
    fig.savefig(path, dpi=90)
    print(f"{len(frequencies)} frequencies in {seconds:.1f} s; largest deviation from the exact "
          f"solution: R {np.max(np.abs(r / r_exact - 1)):.1e}, L {np.max(np.abs(l / l_exact - 1)):.1e}; "
          f"wrote {os.path.basename(path)}")
    for f, rq, re_, lq, le in zip(frequencies[::2], r[::2], r_exact[::2], l[::2], l_exact[::2]):
        print(f"  {f:8.0e} Hz: R {rq:.6e} (exact {re_:.6e}) ohm/m, L {lq:.6e} (exact {le:.6e}) H/m")


if __name__ == "__main__":
    main()
