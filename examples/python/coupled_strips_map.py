"""Two coupled superconducting strips: the coupling L12 / L11 over a width x spacing map,
computed on a Dask cluster.

Two strips of equal width, 0.2 um thick, 0.2 um above a superconducting ground strip
(penetration depth 0.09 um everywhere), at every width and edge-to-edge spacing of a
6 x 6 grid. The sweep runs on a dask.distributed LocalCluster of two worker processes on
this machine; a cluster elsewhere takes the same call with its own client. Writes
python_coupled_strips_map.png.
"""

import os
import time

import matplotlib.pyplot as plt
import numpy as np
from distributed import Client, LocalCluster

import qbr
from _common import output_dir


def coupled_strips(width: float, spacing: float) -> qbr.Model:
    m = qbr.Model(cc=f"strips {width:g} um, {spacing:g} um apart", frequency=10,
                  frequency_unit="ghz", lambda_=0.09, ah=0.05)
    half = spacing / 2
    m.rect(-12, 12, -0.2, 0, c=0, nx=240, ny=4)
    m.rect(-half - width, -half, 0.2, 0.4, c=1, nx=40, ny=5)
    return m.rect(half, half + width, 0.2, 0.4, c=2, nx=40, ny=5)


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    widths = np.round(np.geomspace(0.5, 4, 6), 3)
    spacings = np.round(np.geomspace(0.25, 4, 6), 3)
    start = time.perf_counter()
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        table = qbr.sweep(coupled_strips, width=widths, spacing=spacings,
                          executor=client.get_executor(), grid_check=False)
    seconds = time.perf_counter() - start
    failed = table[table["error"].notna()]
    if len(failed):
        raise SystemExit(f"some points failed:\n{failed}")
    entries = table.pivot_table(index=["width", "spacing"], columns=["i", "j"], values="L_H_per_m")
    coupling = (entries[(1, 2)] / entries[(1, 1)]).unstack("spacing")  # rows: width

    fig, ax = plt.subplots(figsize=(7, 5.5))
    mesh = ax.pcolormesh(coupling.columns, coupling.index, coupling.to_numpy(), shading="nearest",
                         cmap="viridis")
    levels = [0.01, 0.02, 0.05, 0.1, 0.2]
    contours = ax.contour(coupling.columns, coupling.index, coupling.to_numpy(), levels=levels,
                          colors="white", linewidths=0.8)
    ax.clabel(contours, fmt="%.2f", fontsize=8)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xticks(spacings, [f"{v:g}" for v in spacings])
    ax.set_yticks(widths, [f"{v:g}" for v in widths])
    ax.minorticks_off()
    ax.set_xlabel("spacing between the strips' edges [µm]")
    ax.set_ylabel("strip width [µm]")
    fig.colorbar(mesh, ax=ax, label="L12 / L11")
    ax.set_title("Coupled superconducting strips 0.2 µm over ground: L12 / L11", fontsize=10)
    fig.tight_layout()
    path = os.path.join(out, "python_coupled_strips_map.png")
    fig.savefig(path, dpi=90)
    print(f"{len(widths) * len(spacings)} points on a 2-worker Dask LocalCluster in {seconds:.1f} s "
          f"(cluster start included); L12/L11 from {coupling.min().min():.4f} to "
          f"{coupling.max().max():.4f}; wrote {os.path.basename(path)}")


if __name__ == "__main__":
    main()
