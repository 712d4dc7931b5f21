"""Current crowding at the edges of a superconducting strip over a ground strip.

The bundled examples/microstrip_sc.txt (2 um strip, 0.2 um above a 20 um ground strip,
penetration depth 0.09 um): its cross-section with a window on the films, and the surface
current density of the strip's 1 A and of its return in the ground, on the outline and
against the arc length. The current crowds at the strip's corners and flows mostly on
the faces that look at each other. The crowding grows as the strip moves away from the
ground: a third picture compares the density across the strip at three heights, solved
side by side in threads (the solve releases the GIL). Writes python_strip_cross_section.png,
python_strip_current.png and python_strip_crowding.png.
"""

import os
from concurrent.futures import ThreadPoolExecutor

import matplotlib.pyplot as plt

import qbr
from _common import output_dir

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))


def strip(height: float) -> qbr.Model:
    """The bundled microstrip with its strip's bottom at `height` above the ground."""
    m = qbr.Model(cc=f"strip at {height:g} um", frequency=10, frequency_unit="ghz",
                  lambda_=0.09, ah=0.02)
    m.rect(-10, 10, -0.2, 0, c=0, nx=500, ny=10)
    return m.rect(-1, 1, height, height + 0.2, c=1, nx=100, ny=10)


def crowding(out: str) -> None:
    heights = [0.2, 1.0, 4.0]
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda h: strip(h).solve(threads=1), heights))
    fig, (bottom_ax, top_ax) = plt.subplots(1, 2, figsize=(11, 4.5), sharey=True)
    for height, result in zip(heights, results):
        nodes = result.nodes[result.nodes["excitation"] == 1]
        for element, ax in ((4, bottom_ax), (6, top_ax)):
            face = nodes[nodes["element"] == element]
            j = face["current_density_A_per_m_per_A"].to_numpy().real
            ax.plot(face["x_length_units"], j, label=f"strip {height:g} µm above the ground")
        face = nodes[nodes["element"] == 4]["current_density_A_per_m_per_A"].to_numpy().real
        print(f"  strip at {height:g} um: L = {result.L[0, 0]:.4e} H/m, bottom face: J peaks near "
              f"the edges at {face.max() / face[len(face) // 2]:.2f} x the middle's")
    for ax, name in ((bottom_ax, "bottom face (towards the ground)"), (top_ax, "top face")):
        ax.set_title(f"Strip's {name}", fontsize=10)
        ax.set_xlabel("x [µm]")
        ax.set_yscale("log")
        ax.grid(True, which="both", alpha=0.3)
    bottom_ax.set_ylabel("J [A/m per A]")
    bottom_ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(out, "python_strip_crowding.png"), dpi=90)


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    model = qbr.Model.from_file(os.path.join(ROOT, "examples", "microstrip_sc.txt"))
    result = model.solve()

    ax = qbr.plot.cross_section(model)
    ax.figure.savefig(os.path.join(out, "python_strip_cross_section.png"), dpi=90)
    plt.close(ax.figure)

    left, right = qbr.plot.current_density(model, result)
    right.set_title("|J| along each outline (strip: from its bottom left corner)", fontsize=9)
    left.figure.tight_layout()
    left.figure.savefig(os.path.join(out, "python_strip_current.png"), dpi=90)

    # The share of the strip's current on its face towards the ground (element 4).
    nodes = result.nodes
    strip = nodes[(nodes["excitation"] == 1) & (nodes["conductor"] == 1)]
    current = strip["current_density_A_per_m_per_A"].to_numpy().real * strip["outline_share_m"]
    share = current[strip["element"] == 4].sum() / current.sum()
    print(f"L = {result.L[0, 0]:.6e} H/m; {100 * share:.0f} % of the strip's current on its bottom")
    crowding(out)
    print("wrote python_strip_cross_section.png, python_strip_current.png, python_strip_crowding.png")


if __name__ == "__main__":
    main()
