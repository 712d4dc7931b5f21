"""FR4 microstrip, 10 cm: a broadband circuit model fitted to R(f), L(f), G(f), C(f) from
1 MHz to 20 GHz, simulated in ngspice, against the exact line.

The copper trace of fr4_width.py (3 mm, 35 um, on 1.6 mm FR4) with the wideband Debye
dielectric (eps_r 4.3, tan d 0.02 at 1 GHz), solved at the 44 frequencies of ngspice's
"ac dec 10 1meg 20g". The circuit (qbr.broadband_model) is fitted to every third of them;
ngspice's AC sweep of its subcircuit is compared at all 44 with the exact two-port of the
solved R, L, G, C (S21 into 50 ohm), and so is the exact two-port of a line that keeps the
R, L, G, C of its 1 GHz solve at every frequency, what a one-frequency model gives at best
(ngspice 39 runs neither its LTRA nor its CPL element on a line with dielectric loss in an
AC analysis). Writes python_broadband_fr4.png.
"""

import math
import os
import shutil
import subprocess
import tempfile
import time

import matplotlib.pyplot as plt
import numpy as np

import qbr
from _common import output_dir

H, T, WIDTH, LENGTH = 1.6, 0.035, 3.0, 0.1  # mm, mm, mm, m
FREQUENCIES = np.geomspace(1e6, 2e10, 44)  # the points of ngspice's "ac dec 10 1meg 20g"


def board() -> qbr.Model:
    m = qbr.Model(cc="FR4 microstrip 3 mm, wideband dielectric", lengthunit="mm", frequency=1,
                  frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-H, 0, 4.3, 0.02, stated_at=1, unit="ghz")
    m.rect(-30, 30, -H - T, -H, c=0, nx=400, ny=6)
    return m.rect(-WIDTH / 2, WIDTH / 2, 0, T, c=1, nx=160, ny=8)


def ngspice(folder: str, model_text: str, subckt: str) -> np.ndarray:
    """ngspice's AC sweep of the line between 50 ohm ends: frequency, Re and Im of v(out)."""
    with open(os.path.join(folder, "line.cir"), "w") as out:
        out.write(model_text)
    with open(os.path.join(folder, "test.cir"), "w") as out:
        out.write(f"line\n.include line.cir\nV1 src 0 DC 0 AC 1\nRs src in 50\n"
                  f"X1 in 0 out 0 {subckt}\nRl out 0 50\n.control\nac dec 10 1meg 20g\n"
                  f"wrdata result.txt v(out)\n.endc\n.end\n")
    run = subprocess.run(["ngspice", "-b", "test.cir"], cwd=folder, capture_output=True,
                         text=True, check=False)
    if not os.path.exists(os.path.join(folder, "result.txt")):
        raise SystemExit(f"ngspice failed:\n{run.stdout}{run.stderr}")
    return np.loadtxt(os.path.join(folder, "result.txt"))


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    if shutil.which("ngspice") is None:
        raise SystemExit("ngspice is needed (apt-get install ngspice)")
    start = time.perf_counter()
    table = qbr.frequency_sweep(board(), FREQUENCIES, grid_check=False)
    solved = time.perf_counter() - start
    model = qbr.broadband_model(table[table["point"] % 3 == 0])
    _, z, y = qbr._line._line_samples(table)
    z, y = np.array([v[0, 0] for v in z]), np.array([v[0, 0] for v in y])
    exact, _ = qbr.abcd_s21(z, y, LENGTH)
    sections = model.sections(LENGTH, f_max_Hz=FREQUENCIES[-1])
    netlist = model.spice(LENGTH, f_max_Hz=FREQUENCIES[-1])
    at_1ghz = board().solve(grid_check=False)
    w = 2 * np.pi * FREQUENCIES
    one_frequency, _ = qbr.abcd_s21(at_1ghz.R[0, 0] + 1j * w * at_1ghz.L[0, 0],
                                    at_1ghz.G[0, 0] + 1j * w * at_1ghz.C[0, 0], LENGTH)
    with tempfile.TemporaryDirectory() as folder:
        ac = ngspice(folder, netlist, "qbr_broadband")
    if not np.allclose(ac[:, 0], FREQUENCIES, rtol=1e-8):
        raise SystemExit("ngspice's AC points are not the solved frequencies")
    s21 = 2 * (ac[:, 1] + 1j * ac[:, 2])  # through 50 ohm into 50 ohm

    def errors(s):
        return 20 * np.log10(np.abs(s / exact)), np.degrees(np.angle(s / exact))

    db, deg = errors(s21)
    db_one, deg_one = errors(one_frequency)
    fitted, _ = qbr.abcd_s21(model.Z(FREQUENCIES), model.Y(FREQUENCIES), LENGTH)
    db_fit, deg_fit = errors(fitted)

    fig, (ax_db, ax_deg) = plt.subplots(2, 1, figsize=(7, 7.5))
    ax_db.semilogx(FREQUENCIES, 20 * np.log10(np.abs(exact)), "k-", lw=2.5, alpha=0.35,
                   label="exact line (solved R, L, G, C)")
    ax_db.semilogx(FREQUENCIES, 20 * np.log10(np.abs(s21)), "o", ms=3,
                   label=f"broadband model in ngspice ({sections} sections)")
    ax_db.semilogx(FREQUENCIES, 20 * np.log10(np.abs(one_frequency)), "--",
                   label="exact line with the R, L, G, C of 1 GHz")
    ax_db.set_ylabel("|S21| [dB]")
    ax_db.legend(fontsize=8)
    ax_deg.semilogx(FREQUENCIES, deg, "o-", ms=3, label="broadband model: phase error [°]")
    ax_deg.semilogx(FREQUENCIES, 10 * db, "s-", ms=3,
                    label="broadband model: |S21| error × 10 [dB]")
    ax_deg.semilogx(FREQUENCIES, np.clip(deg_one, -2.5, 2.5), "--",
                    label="R, L, G, C of 1 GHz: phase error [°] (clipped at ±2.5)")
    ax_deg.axhspan(-2, 2, color="0.9", zorder=0)
    ax_deg.set_ylim(-2.6, 2.6)
    ax_deg.set_xlabel("frequency [Hz]")
    ax_deg.legend(fontsize=8)
    for ax in (ax_db, ax_deg):
        ax.grid(True, alpha=0.3)
    ax_db.set_title("10 cm copper microstrip on FR4 (wideband εr 4.3, tan δ 0.02 at 1 GHz)",
                    fontsize=10)
    fig.tight_layout()
    path = os.path.join(out, "python_broadband_fr4.png")
    fig.savefig(path, dpi=90)

    print(f"{len(FREQUENCIES)} solves in {solved:.1f} s; wrote {os.path.basename(path)}")
    print(f"  fit to {len(model.frequencies_Hz)} frequencies: {len(model.series_R_ohm_per_m)} "
          f"series R||L, {len(model.shunt_C_F_per_m)} shunt R+C, all positive: {model.passive};")
    print(f"  largest relative error R {model.fit_error['R']:.1e}, L {model.fit_error['L']:.1e}, "
          f"G {model.fit_error['G']:.1e}, C {model.fit_error['C']:.1e}")
    print(f"  |S21| at 20 GHz: exact {20 * math.log10(abs(exact[-1])):.3f} dB, "
          f"{math.degrees(np.angle(exact[-1])):.2f} degrees; at all 44 frequencies:")
    print(f"  fitted circuit, exact two-port:           |S21| within {np.max(np.abs(db_fit)):.4f}"
          f" dB, phase within {np.max(np.abs(deg_fit)):.3f} degrees")
    print(f"  ngspice, {sections} sections:                  |S21| within {np.max(np.abs(db)):.4f}"
          f" dB, phase within {np.max(np.abs(deg)):.3f} degrees")
    print(f"  R, L, G, C of 1 GHz at every frequency:   |S21| within {np.max(np.abs(db_one)):.4f}"
          f" dB, phase within {np.max(np.abs(deg_one)):.3f} degrees")


if __name__ == "__main__":
    main()
