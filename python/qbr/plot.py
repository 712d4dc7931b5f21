"""Pictures with matplotlib: the cross-section, the current density, sweep curves, and
the kinetic fraction and conductor Q of superconducting lines against temperature.

Each function takes an optional matplotlib ``ax`` (or axes) to draw into and returns
what it drew into, in the manner of matplotlib's object-oriented interface. matplotlib
is imported on first use.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Sequence

import numpy as np

if TYPE_CHECKING:
    import pandas
    from matplotlib.axes import Axes

    from ._model import Model, Result

Box = Sequence[float]  # (x0, x1, y0, y1) in length units


def _colour(conductor: int):
    import matplotlib

    # Conductor 0, the return, in grey; the others in the default colour cycle.
    if conductor == 0:
        return "0.45"
    return matplotlib.colormaps["tab10"]((conductor - 1) % 10)


def _dielectric_colour(index: int):
    import matplotlib

    return matplotlib.colormaps["Pastel1"](index % 9)


def _loops(outlines, key: str = "conductor") -> list[tuple[int, np.ndarray]]:
    """The outlines chained into closed loops (conductor, or the `key` attribute, and
    points): consecutive elements of one conductor whose ends meet form one loop, a circle
    is a loop by itself."""
    loops: list[tuple[int, np.ndarray]] = []
    current: list[np.ndarray] = []
    conductor = None
    for o in outlines:
        p = o.points
        size = max(np.ptp(p[:, 0]), np.ptp(p[:, 1]), 1e-300)
        joins = (current and getattr(o, key) == conductor
                 and np.hypot(*(current[-1][-1] - p[0])) < 1e-6 * size)
        if not joins and current:
            loops.append((conductor, np.vstack(current)))
            current = []
        current.append(p)
        conductor = getattr(o, key)
    if current:
        loops.append((conductor, np.vstack(current)))
    return loops


def _signed_area(p: np.ndarray) -> float:
    x, y = p[:, 0], p[:, 1]
    return 0.5 * float(np.sum(x * np.roll(y, -1) - np.roll(x, -1) * y))


def _bounds(points: np.ndarray, pad: float = 0.0) -> tuple[float, float, float, float]:
    x0, y0 = points.min(axis=0)
    x1, y1 = points.max(axis=0)
    d = pad * max(x1 - x0, y1 - y0)
    return x0 - d, x1 + d, y0 - d, y1 + d


def _metal_outlines(model: "Model", points_per_element: int = 65) -> list:
    return [o for o in model.outlines(points_per_element) if not o.dielectric]


def auto_zoom(model: "Model") -> tuple[float, float, float, float] | None:
    """A window around the signal conductors (1 and up) when the cross-section has films
    too thin to see in the whole (thinner than 2 % of it), else None."""
    outlines = _metal_outlines(model, 9)
    signal = [o.points for o in outlines if o.conductor != 0]
    if not signal:
        return None
    x0, x1, y0, y1 = _bounds(np.vstack([o.points for o in outlines]))
    thinnest = min(min(np.ptp(p[:, 0]), np.ptp(p[:, 1]))
                   for p in (np.vstack([o.points for o in outlines if o.conductor == c])
                             for c in {o.conductor for o in outlines}))
    if thinnest > 0.02 * max(x1 - x0, y1 - y0):
        return None
    sx0, sx1, sy0, sy1 = _bounds(np.vstack(signal))
    width = 1.3 * max(sx1 - sx0, sy1 - sy0)
    height = max(width / 2.2, 1.5 * (sy1 - sy0))
    cx, cy = (sx0 + sx1) / 2, (sy0 + sy1) / 2
    return cx - width / 2, cx + width / 2, cy - height / 2, cy + height / 2


def _draw_model(ax: "Axes", model: "Model", labels: bool, fill: bool = True, lw: float = 1.5,
                outline_colour: Any = None) -> None:
    from matplotlib.patches import Polygon

    everything = model.outlines()
    outlines = [o for o in everything if not o.dielectric]
    # Dielectric regions under the metal, the larger first (the innermost shows), dashed;
    # layers as bands across the axes.
    regions = [o for o in everything if o.dielectric]
    if fill:
        for z, (patch, p) in enumerate(sorted(_loops(regions, key="patch"),
                                               key=lambda loop: -abs(_signed_area(loop[1])))):
            ax.add_patch(Polygon(p, closed=True, facecolor=_dielectric_colour(patch), alpha=0.15,
                                 edgecolor="none", zorder=0.5 + z * 1e-3))
        for k, layer in enumerate(model.settings.layers):
            ax.axhspan(layer.y1 * model.settings.gridsize, layer.y2 * model.settings.gridsize,
                       color=_dielectric_colour(5 + k), alpha=0.15, zorder=0.4)
    for o in regions:
        ax.plot(o.points[:, 0], o.points[:, 1], color="grey", lw=0.8, ls="--", zorder=1.5)
        if labels:
            x, y = o.points[int(0.75 * (len(o.points) - 1))]
            ax.annotate(f"d{o.element}", (x, y), fontsize=6, color="grey", ha="center",
                        va="center", clip_on=True, zorder=3)
    loops = sorted(_loops(outlines), key=lambda loop: -abs(_signed_area(loop[1])))
    for z, (conductor, p) in enumerate(loops):
        # Metal runs counter-clockwise around itself; a clockwise loop is a hole.
        metal = _signed_area(p) > 0
        if fill:
            face = _colour(conductor) if metal else "white"
            ax.add_patch(Polygon(p, closed=True, facecolor=face, alpha=0.35 if metal else 1.0,
                                 edgecolor="none", zorder=1 + z * 1e-3))
    for o in outlines:
        ax.plot(o.points[:, 0], o.points[:, 1], color=outline_colour or _colour(o.conductor),
                lw=lw, zorder=2, solid_capstyle="butt")
    if model.settings.symmetry == "on":
        ax.axhline(0.0, color="tab:blue", lw=3, zorder=0)
    if labels:
        for o in outlines:
            # As the program's drawing: "e(c)" three quarters of the way along.
            x, y = o.points[int(0.75 * (len(o.points) - 1))]
            ax.annotate(f"{o.element}({o.conductor})", (x, y), fontsize=7, ha="center",
                        va="center", clip_on=True, zorder=3,
                        bbox=dict(boxstyle="round,pad=0.1", fc="white", ec="none", alpha=0.7))


def _finish(ax: "Axes", model: "Model", box=None) -> None:
    ax.set_aspect("equal", adjustable="datalim")
    unit = model.settings.lengthunit.replace("um", "µm")
    ax.set_xlabel(f"x [{unit}]")
    ax.set_ylabel(f"y [{unit}]")
    if box is not None:
        ax.set_xlim(box[0], box[1])
        ax.set_ylim(box[2], box[3])
    else:
        ax.autoscale_view()


def _zoom_axes(ax: "Axes", box) -> "Axes":
    inset = ax.inset_axes([0.05, 0.52, 0.9, 0.45])
    inset.set_xlim(box[0], box[1])
    inset.set_ylim(box[2], box[3])
    inset.tick_params(labelsize=7)
    ax.indicate_inset_zoom(inset, edgecolor="0.3")
    return inset


def cross_section(model: "Model", ax: "Axes | None" = None, zoom: Box | str | None = "auto",
                  labels: bool = True) -> "Axes":
    """Draws the cross-section: every conductor filled in its colour (the return,
    conductor 0, in grey; holes white), every element outlined and labelled ``e(c)``
    (element and conductor, as in the program's drawing), to scale.

    zoom: (x0, x1, y0, y1) in length units, or "auto" (a window around the signal
    conductors when they are small beside the whole, as thin films over a wide ground
    are), or None; the window is an inset of the axes. Returns the axes.
    """
    import matplotlib.pyplot as plt

    if ax is None:
        _, ax = plt.subplots(figsize=(7, 6))
    _draw_model(ax, model, labels)
    _finish(ax, model)
    box = auto_zoom(model) if zoom == "auto" else zoom
    if box is not None:
        inset = _zoom_axes(ax, box)
        _draw_model(inset, model, labels)
        inset.set_xlim(box[0], box[1])
        inset.set_ylim(box[2], box[3])
        inset.set_aspect("equal", adjustable="box")
        # The whole cross-section in the lower part, the window above it.
        x0, x1, y0, y1 = _bounds(np.vstack([o.points for o in _metal_outlines(model, 9)]),
                                 pad=0.05)
        height = max(0.8 * (x1 - x0), (y1 - y0) / 0.3)
        ax.set_aspect("equal", adjustable="box")
        ax.set_xlim(x0, x1)
        ax.set_ylim(y0 - 0.1 * height, y0 + 0.9 * height)
    caption = model.settings.caption
    if caption:
        ax.set_title(caption, fontsize=9)
    return ax


def _node_arc_lengths(nodes: "pandas.DataFrame", model: "Model") -> np.ndarray:
    """Arc length of every node along its conductor's outline, element after element in
    model order, from the start of the conductor's first element (length units)."""
    outlines = {o.element: o.points for o in _metal_outlines(model, 257)}
    s = np.zeros(len(nodes))
    offsets: dict[int, float] = {}
    for element, rows in nodes.groupby("element", sort=True):
        points = outlines[element]
        steps = np.hypot(*np.diff(points, axis=0).T)
        along = np.concatenate([[0.0], np.cumsum(steps)])
        xy = rows[["x_length_units", "y_length_units"]].to_numpy()
        # Each node's place along the element: the nearest sample of the fine outline.
        nearest = np.argmin(np.hypot(points[None, :, 0] - xy[:, None, 0],
                                     points[None, :, 1] - xy[:, None, 1]), axis=1)
        conductor = int(rows["conductor"].iloc[0])
        start = offsets.get(conductor, 0.0)
        s[rows.index - nodes.index[0]] = start + along[nearest]
        offsets[conductor] = start + along[-1]
    return s


def current_density(model: "Model", result: "Result", excitation: int = 1,
                    axes: Sequence["Axes"] | None = None, zoom: Box | str | None = "auto"):
    """The surface current density of one excitation (1 A into conductor ``excitation``,
    back through conductor 0), twice: as colour on the outline (left; log scale when it
    spans over two decades) and as \\|J\\| in A/m per A against the arc length along each
    conductor's outline (right; dotted lines where one element ends and the next begins).

    zoom: the outline's window, as in :func:`cross_section`. Returns the two axes.
    """
    import matplotlib.pyplot as plt
    from matplotlib.collections import LineCollection
    from matplotlib.colors import LogNorm, Normalize

    if axes is None:
        _, axes = plt.subplots(1, 2, figsize=(12, 5), gridspec_kw=dict(width_ratios=[1, 1.3]))
    left, right = axes
    nodes = result.nodes
    nodes = nodes[nodes["excitation"] == excitation].reset_index(drop=True)
    magnitude = np.abs(nodes["current_density_A_per_m_per_A"].to_numpy())
    positive = magnitude[magnitude > 0]
    if positive.size and positive.max() > 100 * positive.min():
        norm = LogNorm(vmin=max(positive.min(), positive.max() * 1e-6), vmax=positive.max())
    else:
        norm = Normalize(vmin=0.0, vmax=float(magnitude.max()) if magnitude.size else 1.0)

    _draw_model(left, model, labels=False, fill=True, lw=0.5, outline_colour="0.6")
    segments, values = [], []
    for _, rows in nodes.groupby("element", sort=True):
        xy = rows[["x_length_units", "y_length_units"]].to_numpy()
        j = np.abs(rows["current_density_A_per_m_per_A"].to_numpy())
        segments += [xy[k:k + 2] for k in range(len(xy) - 1)]
        values += list(0.5 * (j[:-1] + j[1:]))
    lines = LineCollection(segments, array=np.maximum(values, norm.vmin or 0.0), cmap="inferno",
                           norm=norm, linewidths=4, zorder=4)
    left.add_collection(lines)
    plt.colorbar(lines, ax=left, label="|J| [A/m per A]", shrink=0.8)
    box = auto_zoom(model) if zoom == "auto" else zoom
    _finish(left, model, box)
    left.set_title(f"Current density, 1 A into conductor {excitation}", fontsize=9)

    s = _node_arc_lengths(nodes, model)
    for conductor, rows in nodes.groupby("conductor", sort=True):
        index = rows.index.to_numpy()
        order = np.argsort(s[index], kind="stable")
        right.plot(s[index][order], magnitude[index][order], ".-", ms=2, lw=1,
                   color=_colour(int(conductor)), label=f"conductor {conductor}")
    ends = {}
    for element, rows in nodes.groupby("element", sort=True):
        ends[element] = s[rows.index].max()
    for x in ends.values():
        right.axvline(x, color="0.8", ls=":", lw=0.8)
    if positive.size and positive.max() > 100 * positive.min():
        right.set_yscale("log")
    unit = model.settings.lengthunit.replace("um", "µm")
    right.set_xlabel(f"arc length along the conductor's outline [{unit}]")
    right.set_ylabel("|J| [A/m per A]")
    right.legend(fontsize=8)
    right.grid(True, alpha=0.3)
    return left, right


def _log_natural(values: np.ndarray) -> bool:
    values = values[np.isfinite(values)]
    return bool(values.size) and values.min() > 0 and values.max() >= 30 * values.min()


def sweep(table: "pandas.DataFrame", x: str, y: str = "L_H_per_m", hue: str | None = None,
          entry: tuple[int, int] | None = (1, 1), ax: "Axes | None" = None,
          logx: bool | None = None, logy: bool | None = None, **line_options: Any) -> "Axes":
    """Plots column ``y`` of a sweep table against parameter ``x``, one line per value of
    ``hue`` (or of the other parameters, when they vary and hue is None).

    entry: the matrix entry (i, j) to plot, None for every entry (one line each).
    Complex columns (``Z_ohm_per_m``) are plotted by magnitude. Points that failed are
    left out. logx, logy: None chooses a log axis for positive values spanning a factor
    of 30 or more. Returns the axes.
    """
    import matplotlib.pyplot as plt

    if ax is None:
        _, ax = plt.subplots(figsize=(7, 5))
    data = table[table["error"].isna()]
    if entry is not None:
        data = data[(data["i"] == entry[0]) & (data["j"] == entry[1])]
    # The sweep's parameters: named in the table's attrs, or the columns before "point"
    # (results such as C_F_per_m or Z0_ohm are never parameters).
    parameters = table.attrs.get("parameters")
    if parameters is None:
        columns = list(table.columns)
        parameters = columns[:columns.index("point")] if "point" in columns else []
    groups = [hue] if hue else [c for c in parameters
                                if c not in (x, y) and data[c].nunique(dropna=True) > 1]
    if entry is None:
        groups += ["i", "j"]
    parts = data.groupby(groups, sort=True) if groups else [((), data)]
    xs_all, ys_all = [], []
    for key, part in parts:
        part = part.sort_values(x)
        xs = part[x].to_numpy(dtype=float)
        ys = part[y].to_numpy()
        ys = np.abs(ys) if np.iscomplexobj(ys) else ys.astype(float)
        key = key if isinstance(key, tuple) else (key,)
        label = ", ".join(f"{g}={k}" for g, k in zip(groups, key)) or None
        options = dict(dict(marker="o", ms=3, label=label), **line_options)
        ax.plot(xs, ys, **options)
        xs_all.append(xs)
        ys_all.append(ys)
    if xs_all:
        if logx if logx is not None else _log_natural(np.concatenate(xs_all)):
            ax.set_xscale("log")
        if logy if logy is not None else _log_natural(np.concatenate(ys_all)):
            ax.set_yscale("log")
    ax.set_xlabel(x)
    ax.set_ylabel(y if entry is None else f"{y} [{entry[0]},{entry[1]}]")
    if groups or "label" in line_options:
        ax.legend(fontsize=8)
    ax.grid(True, which="both", alpha=0.3)
    return ax


def alpha_q(table: "pandas.DataFrame", x: str = "temperature_K", conductor: int = 1,
            hue: str | None = None, ax: "Axes | None" = None,
            **line_options: Any) -> tuple["Axes", "Axes"]:
    """The kinetic fraction alpha (left axis, solid) and the conductor-loss quality factor
    Q_c = omega L / R (right axis, logarithmic, dashed) of one conductor against ``x`` (by
    default the temperature), from a sweep of a model with patches of kinds ``mb`` or
    ``twofluid``. One pair of lines per value of ``hue`` (or of the other parameters that
    vary). Points that failed, and infinite Q_c (no loss), are left out. Returns the axes
    of alpha and the twin axes of Q_c.
    """
    import matplotlib.pyplot as plt

    if "alpha" not in table:
        raise ValueError("the sweep table has no alpha: the model needs a patch of kind mb or "
                         "twofluid")
    if ax is None:
        _, ax = plt.subplots(figsize=(7, 4.5))
    twin = ax.twinx()
    data = table[table["error"].isna() & (table["i"] == conductor) & (table["j"] == conductor)]
    known = {"point", "i", "j", "nd", "frequency_Hz", "warnings", "error", "temperature_K", x}
    known.update(c for c in data.columns if c.endswith(("_per_m", "_Hz")) or c in ("alpha", "Q_c"))


    def relabels_x(c: str) -> bool:  # the sweep's own axis beside temperature_K, say
        pairs = data[[x, c]].drop_duplicates()
        return pairs[x].is_unique and pairs[c].is_unique

    groups = [hue] if hue else [c for c in data.columns
                                if c not in known and data[c].nunique(dropna=True) > 1
                                and not relabels_x(c)]
    if not groups:
        parts = [((), data)]
    else:
        parts = data.groupby(groups[0] if len(groups) == 1 else groups, sort=True)
    for k, (key, part) in enumerate(parts):
        part = part.sort_values(x)
        key = key if isinstance(key, tuple) else (key,)
        label = ", ".join(f"{g}={v}" for g, v in zip(groups, key))
        colour = f"C{k % 10}"
        xs = part[x].to_numpy(dtype=float)
        q = part["Q_c"].to_numpy(dtype=float)
        finite = np.isfinite(q)
        ax.plot(xs, part["alpha"].to_numpy(dtype=float),
                **dict(dict(marker="o", ms=3, color=colour,
                            label=f"alpha{', ' + label if label else ''}"), **line_options))
        twin.plot(xs[finite], q[finite],
                  **dict(dict(marker="s", ms=3, ls="--", color=colour,
                              label=f"Q_c{', ' + label if label else ''}"), **line_options))
    twin.set_yscale("log")
    ax.set_xlabel("temperature [K]" if x == "temperature_K" else x)
    ax.set_ylabel(f"kinetic fraction alpha = L_k / L (conductor {conductor})")
    twin.set_ylabel("Q_c = omega L / R")
    lines = ax.get_legend_handles_labels()
    more = twin.get_legend_handles_labels()
    ax.legend(lines[0] + more[0], lines[1] + more[1], fontsize=8, loc="upper left")
    ax.grid(True, which="both", alpha=0.3)
    return ax, twin
