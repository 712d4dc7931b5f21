"""FR4 microstrip, 10 cm: the step response of the broadband model in ngspice's transient
analysis against the inverse Fourier transform of the fitted line.

The line and the fit of broadband_fr4.py; the subcircuit as a plain ladder
(``lumped=True``, L_inf and C_inf as inductors and capacitors, 40 and 80 sections per
wavelength at 20 GHz), since ngspice 39's transient stalls on the ideal-line form. A 1 V
step of 20 ps rise through 50 ohm, a 50 ohm load; the reference is v(out) of the fitted
line's exact two-port by FFT over a period of 40 ns (a 20 ns pulse). Takes a few minutes.
Writes python_broadband_step.png.
"""

import os
import subprocess
import tempfile
import time

import matplotlib.pyplot as plt
import numpy as np

import qbr
from _common import output_dir
from broadband_fr4 import FREQUENCIES, LENGTH, board

RISE, STOP = 20e-12, 3e-9


def transient(netlist: str) -> np.ndarray:
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "line.cir"), "w") as out:
            out.write(netlist)
        with open(os.path.join(folder, "test.cir"), "w") as out:
            out.write(f"step\n.include line.cir\nV1 src 0 PULSE(0 1 0 {RISE} {RISE} 1 2)\n"
                      f"Rs src in 50\nX1 in 0 out 0 qbr_broadband\nRl out 0 50\n.control\n"
                      f"tran 0.5p {STOP} 0 0.5p\nwrdata result.txt v(out)\n.endc\n.end\n")
        run = subprocess.run(["ngspice", "-b", "test.cir"], cwd=folder, capture_output=True,
                             text=True, check=False)
        path = os.path.join(folder, "result.txt")
        if not os.path.exists(path):
            raise SystemExit(f"ngspice failed:\n{run.stdout}{run.stderr}")
        return np.loadtxt(path)


def reference(model: qbr.BroadbandModel) -> tuple[np.ndarray, np.ndarray]:
    period, dt = 40e-9, 0.25e-12
    n = int(round(period / dt))
    f = np.fft.rfftfreq(n, dt)
    t = np.arange(n) * dt
    source = np.clip(t / RISE, 0, 1) - np.clip((t - period / 2) / RISE, 0, 1)
    z, y = model.Z(f), model.Y(f)
    # At 0 Hz the line is R_dc and G_dc; a vanishing reactance keeps gamma and Zc defined.
    z[0], y[0] = model.R_dc_ohm_per_m + 1e-30j, model.G_dc_S_per_m + 1e-30j
    s21, _ = qbr.abcd_s21(z, y, LENGTH)
    v = np.fft.irfft(np.fft.rfft(source) * s21 / 2, n)
    keep = t <= STOP
    return t[keep], v[keep]


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    table = qbr.frequency_sweep(board(), FREQUENCIES, grid_check=False)
    model = qbr.broadband_model(table[table["point"] % 3 == 0])
    t, v = reference(model)
    final = v[-1]
    fig, ax = plt.subplots(figsize=(7, 4.5))
    ax.plot(t * 1e9, v, "k-", lw=3, alpha=0.3, label="inverse FFT of the fitted line")
    print(f"1 V step, 20 ps rise, into 10 cm between 50 ohm ends: v(out) settles at "
          f"{final:.5f} V")
    for per in (40, 80):
        sections = model.sections(LENGTH, f_max_Hz=FREQUENCIES[-1], per_wavelength=per)
        start = time.perf_counter()
        data = transient(model.spice(LENGTH, f_max_Hz=FREQUENCIES[-1], per_wavelength=per,
                                     lumped=True))
        seconds = time.perf_counter() - start
        vt = np.interp(t, data[:, 0], data[:, 1])
        error = np.abs(vt - v)
        worst = np.argmax(error)
        ax.plot(t * 1e9, vt, "-", lw=1, label=f"ngspice, {sections} lumped sections")
        print(f"  {sections} sections ({per} per wavelength at 20 GHz), ngspice {seconds:.0f} s: "
              f"largest difference {100 * error.max() / final:.2f} % of the final value (at "
              f"{t[worst] * 1e9:.3f} ns, on the edge), after 1 ns "
              f"{100 * error[t > 1e-9].max() / final:.3f} %")
    ax.set_xlim(0.4, 1.2)
    ax.set_xlabel("time [ns]")
    ax.set_ylabel("v(out) [V]")
    ax.grid(True, alpha=0.3)
    ax.legend(fontsize=8)
    ax.set_title("10 cm FR4 microstrip: step response of the broadband model", fontsize=10)
    fig.tight_layout()
    path = os.path.join(out, "python_broadband_step.png")
    fig.savefig(path, dpi=90)
    print(f"  wrote {os.path.basename(path)}")


if __name__ == "__main__":
    main()
