"""Niobium coplanar resonator line from 1 K to 8.5 K: kinetic fraction alpha and the
quality factor of the conductor loss Q_c, from the Mattis-Bardeen conductivity.

The bundled examples/cpw_nb.txt: a 10 um centre conductor between 6 um gaps and ground
films out to +-200 um, all 0.2 um of niobium (Tc 9.2 K, normal-state resistivity
5 microohm cm, patch kind mb) at 5 GHz, swept over temperature with
qbr.temperature_sweep. The silicon substrate is left out: alpha = L_k / L and
Q_c = omega L / R do not depend on the dielectric (for a quasi-TEM line C cancels from
beta / 2 alpha_c), so it can be added when dielectric regions come. Writes
python_nb_cpw_temperature.png.
"""

import os
import time

import matplotlib.pyplot as plt
import numpy as np

import qbr
from _common import output_dir

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
TC, RHO_N, F = 9.2, 5.0, 5e9  # K, microohm cm, Hz


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    line = qbr.Model.from_file(os.path.join(ROOT, "examples", "cpw_nb.txt"))
    temperatures = np.arange(1.0, 8.51, 0.5)
    start = time.perf_counter()
    table = qbr.temperature_sweep(line, temperatures)
    seconds = time.perf_counter() - start
    ok = table[table["error"].isna()]
    if len(ok) != len(temperatures):
        raise SystemExit(f"some temperatures failed:\n{table[table['error'].notna()]}")

    fig, (material, line_axes) = plt.subplots(1, 2, figsize=(12, 4.5))
    fine = np.linspace(0.5, 9.0, 120)
    films = [qbr.mattis_bardeen(TC, RHO_N, t, F) for t in fine]
    material.plot(fine, [f.lambda_eff_m * 1e9 for f in films], color="C0")
    material.set_xlabel("temperature [K]")
    material.set_ylabel("lambda_eff [nm]", color="C0")
    ratio = material.twinx()
    ratio.semilogy(fine, [f.sigma1_S_per_m * RHO_N * 1e-8 for f in films], color="C3", ls="--")
    ratio.set_ylabel("sigma1 / sigma_n", color="C3")
    material.set_title("Mattis-Bardeen niobium at 5 GHz", fontsize=10)
    material.grid(True, alpha=0.3)
    qbr.plot.alpha_q(table, ax=line_axes)
    line_axes.set_title("Coplanar line: 10 um centre, 6 um gaps, 0.2 um films", fontsize=10)
    fig.tight_layout()
    path = os.path.join(out, "python_nb_cpw_temperature.png")
    fig.savefig(path, dpi=90)

    print(f"{len(temperatures)} temperatures in {seconds:.1f} s; wrote {os.path.basename(path)}")
    print("  T [K]   lambda_eff [nm]   alpha     L_k [nH/m]   R [ohm/m]     Q_c")
    for (_, row), t in zip(ok.iterrows(), temperatures):
        film = qbr.mattis_bardeen(TC, RHO_N, t, F)
        print(f"  {t:4.1f}   {film.lambda_eff_m * 1e9:8.2f}          {row['alpha']:.5f}   "
              f"{row['L_k_H_per_m'] * 1e9:9.4f}   {row['R_ohm_per_m']:10.4g}   {row['Q_c']:10.4g}")


if __name__ == "__main__":
    main()
