from concurrent.futures import ThreadPoolExecutor

import matplotlib

matplotlib.use("Agg")
import matplotlib.image
import matplotlib.pyplot as plt
import pytest

import qbr
from conftest import ROOT, strip_model


def saved_png(fig, path):
    fig.savefig(path, dpi=80)
    plt.close(fig)
    assert path.stat().st_size > 10_000
    height, width = matplotlib.image.imread(path).shape[:2]
    assert 300 <= width <= 2000 and 200 <= height <= 2000


def test_each_plot_writes_a_png(tmp_path):
    coax = qbr.Model.from_file(ROOT / "examples" / "coax_sc.txt")
    saved_png(qbr.plot.cross_section(coax).figure, tmp_path / "coax.png")
    strip = strip_model()
    ax = qbr.plot.cross_section(strip)
    assert len(ax.child_axes) == 1  # the window on the thin films
    saved_png(ax.figure, tmp_path / "strip.png")
    left, right = qbr.plot.current_density(strip, strip.solve(grid_check=False))
    saved_png(left.figure, tmp_path / "density.png")
    table = qbr.sweep(strip_model, width=[0.5, 2, 20], executor=ThreadPoolExecutor(2), progress=False,
                      grid_check=False)
    ax = qbr.plot.sweep(table, "width", "L_H_per_m")
    assert ax.get_xscale() == "log"
    saved_png(ax.figure, tmp_path / "sweep.png")
