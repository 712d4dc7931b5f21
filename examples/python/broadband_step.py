"""FR4 microstrip and a coupled pair, 10 cm: the step response and the far-end crosstalk of
the broadband model in ngspice's transient analysis against the inverse Fourier transform
of the solved line.

The line of broadband_fr4.py, and a symmetric pair of 1.5 mm traces 1 mm apart on the
same board, each swept at the 44 frequencies of "ac dec 10 1meg 20g"; the circuit of
qbr.broadband_model fitted to every third of them, written as a plain ladder
(``lumped=True``: ngspice 39's transient stalls on the ideal-line form) with 10 and 20
sections per wavelength at 20 GHz. A 1 V step with a 50 ps Gaussian edge through 50 ohm,
every end in 50 ohm. The reference, qbr.step_response, is the inverse FFT of the exact
multiport of the solved R, L, G, C (matrices for the pair), interpolated onto the FFT's
frequencies. Takes a few minutes. Writes python_broadband_step.png.
"""

import os
import subprocess
import tempfile
import time

import matplotlib.pyplot as plt
import numpy as np

import qbr
from _common import output_dir
from broadband_fr4 import FREQUENCIES, H, LENGTH, T, board

RISE = 50e-12


def pair_board() -> qbr.Model:
    m = qbr.Model(cc="FR4 pair, 1.5 mm traces 1 mm apart", lengthunit="mm", frequency=1,
                  frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-H, 0, 4.3, 0.02, stated_at=1, unit="ghz")
    m.rect(-20, 20, -H - T, -H, c=0, nx=300, ny=6)
    m.rect(-2, -0.5, 0, T, c=1, nx=100, ny=6)
    return m.rect(0.5, 2, 0, T, c=2, nx=100, ny=6)


def transient(netlist: str, circuit: str, probes: list[str], stop: float) -> np.ndarray:
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "line.cir"), "w") as out:
            out.write(netlist)
        with open(os.path.join(folder, "test.cir"), "w") as out:
            out.write(f"step\n.include line.cir\n{circuit}.control\ntran 0.5p {stop} 0 0.5p\n"
                      f"wrdata result.txt {' '.join(f'v({p})' for p in probes)}\n.endc\n.end\n")
        run = subprocess.run(["ngspice", "-b", "test.cir"], cwd=folder, capture_output=True,
                             text=True, check=False)
        path = os.path.join(folder, "result.txt")
        if not os.path.exists(path):
            raise SystemExit(f"ngspice failed:\n{run.stdout}{run.stderr}")
        data = np.loadtxt(path)
        return np.column_stack([data[:, 0], data[:, 1::2]])


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    fig, axes = plt.subplots(1, 2, figsize=(10, 4.2))
    cases = [("microstrip", board, 3e-9, "Rs src in 50\nX1 in 0 out 0 qbr_broadband\n"
              "Rl out 0 50\n", ["out"], 1, 1),
             ("pair", pair_board, 2e-9, "Rs src in1 50\nR2 in2 0 50\nR3 out1 0 50\nR4 out2 0 50\n"
              "X1 in1 in2 0 out1 out2 0 qbr_broadband\n", ["out2"], 3, 2)]
    for (name, build, stop, circuit, probes, port, scale_port), ax in zip(cases, axes):
        start = time.perf_counter()
        table = qbr.frequency_sweep(build(), FREQUENCIES, grid_check=False, progress=False)
        solved = time.perf_counter() - start
        exact = qbr.step_response(table, LENGTH, rise_s=RISE, stop_s=stop)
        t, v = exact.times_s, exact.voltages_V[:, port]
        step = exact.voltages_V[-1, scale_port]  # the far end of the driven line, settled
        model = qbr.broadband_model(table[table["point"] % 3 == 0])
        what = "v(out)" if name == "microstrip" else "far-end crosstalk v(out2)"
        print(f"{name}: 44 solves in {solved:.0f} s; {what} against the inverse FFT, relative "
              f"to the step at the far end ({step:.5f} V):")
        ax.plot(t * 1e9, v, "k-", lw=3, alpha=0.3, label="inverse FFT of the solved line")
        for per in (10, 20):
            start = time.perf_counter()
            data = transient(model.spice(LENGTH, f_max_Hz=FREQUENCIES[-1], per_wavelength=per,
                                         lumped=True),
                             f"V1 src 0 {exact.pwl()}\n{circuit}", probes, stop)
            seconds = time.perf_counter() - start
            vt = np.interp(t, data[:, 0], data[:, 1])
            error = np.abs(vt - v)
            peak = ""
            if name == "pair":
                peak = f", peak {v.min():.5f} V missed by {100 * (vt.min() / v.min() - 1):+.2f} %"
            ax.plot(t * 1e9, vt, "-", lw=1, label=f"ngspice, {per} sections per wavelength")
            print(f"  {per} sections per wavelength at 20 GHz, ngspice {seconds:.0f} s: largest "
                  f"difference {100 * error.max() / step:.2f} % (at {t[error.argmax()] * 1e9:.3f} "
                  f"ns){peak}")
        ax.set_xlim(0.3, 1.2)
        ax.set_xlabel("time [ns]")
        ax.set_ylabel(f"{what} [V]")
        ax.grid(True, alpha=0.3)
        ax.legend(fontsize=8)
        ax.set_title(f"10 cm FR4 {name}: 1 V step, 50 ps edge, 50 ohm ends", fontsize=10)
    fig.tight_layout()
    path = os.path.join(out, "python_broadband_step.png")
    fig.savefig(path, dpi=90)
    print(f"wrote {os.path.basename(path)}")


if __name__ == "__main__":
    main()
