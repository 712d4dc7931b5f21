"""The program's own error estimates (Result.accuracy, the grid check every solve runs)
against the true errors of the calibration set.

    PYTHONPATH=build/python /usr/bin/python3 bench/calibration/check.py [--table] [--plot FILE]

Prints the counts the estimate is judged by and every entry whose true error exceeds 1 %
with an estimate below a third of it (a miss), or whose estimate is at least 1 % and above
three times its true error (a false alarm). Errors are relative as in analyze.py; entries
whose reference is uncertain by more than a tenth of the larger of the two are left out.
"""

from __future__ import annotations

import json
import math
import os
import sys

import numpy as np

import qbr

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
from models import MODELS, USED  # noqa: E402


def estimates(result) -> dict[str, float]:
    a = result.accuracy
    out = {}
    for symbol, entries, pairs in (("L", a.inductance, a.inductance_pairs),
                                   ("R", a.resistance, a.resistance_pairs),
                                   ("C", a.capacitance, a.capacitance_pairs)):
        entries, pairs = np.asarray(entries), np.asarray(pairs)
        for i in range(entries.shape[0]):
            for j in range(i, entries.shape[0]):
                out[f"{symbol}[{i + 1},{j + 1}]"] = float(entries[i, j])
                if j > i:
                    out[f"{symbol}d[{i + 1},{j + 1}]"] = float(pairs[i, j])
    return out


def rows():
    sys.path.insert(0, here)
    from run import entries
    from analyze import scale_of
    refs = json.load(open(os.path.join(here, "references.json")))
    for model, kind in USED:
        result = qbr.Model.from_text(MODELS[model](1.0, kind), strict=False).solve(threads=2)
        values = entries(result)
        est = estimates(result)
        for name, value in values.items():
            ref, uncertainty = refs[model][name]
            scale = scale_of(values, name)
            if scale == 0.0 or name not in est:
                continue
            true = abs(value - ref) / scale
            if uncertainty / scale > 0.1 * max(true, est[name]):
                continue
            yield model, kind, name, true, est[name]


def judge(table):
    big = [r for r in table if r[3] > 0.01]
    misses = [r for r in big if r[4] < r[3] / 3]
    alarms = [r for r in table if r[4] >= 0.01]
    false = [r for r in alarms if r[4] > 3 * r[3]]
    within = sum(1 for r in table if r[3] / 3 <= r[4] <= 3 * r[3])
    return big, misses, alarms, false, within


def plot(table, path: str) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(6.4, 5.2))
    floor = 1e-9
    for kind, marker in (("even", "o"), ("graded", "s")):
        for symbol, colour in (("L", "tab:blue"), ("R", "tab:red"), ("C", "tab:green")):
            rows = [r for r in table if r[1] == kind and r[2].startswith(symbol)]
            if rows:
                ax.scatter([max(r[3], floor) for r in rows], [max(r[4], floor) for r in rows],
                           s=14, marker=marker, facecolors="none", edgecolors=colour,
                           label=f"{symbol}, {kind} grid")
    line = np.array([floor, 10.0])
    ax.plot(line, line, "k-", lw=0.8)
    ax.plot(line, 3 * line, "k:", lw=0.8)
    ax.plot(line, line / 3, "k:", lw=0.8)
    ax.axvline(0.01, color="grey", lw=0.5)
    ax.axhline(0.01, color="grey", lw=0.5)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlim(floor, 2)
    ax.set_ylim(floor, 2)
    ax.set_xlabel("true relative error of the printed entry")
    ax.set_ylabel("the program's estimate")
    ax.set_title("Error estimate against the true error (calibration set)")
    ax.legend(fontsize=8, loc="upper left")
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def main() -> None:
    table = list(rows())
    big, misses, alarms, false, within = judge(table)
    print(f"{len(table)} entries of {len(USED)} runs ({len(MODELS)} models): true error "
          f"above 1 %: {len(big)}, missed: {len(misses)}; estimates of 1 % or more: "
          f"{len(alarms)}, above 3x the true error: {len(false)}; within 3x: {within}")
    for r in misses:
        print(f"  miss  {r[0]:26s} {r[1]:6s} {r[2]:10s} true {r[3]:.2e} estimate {r[4]:.2e}")
    for r in false:
        print(f"  alarm {r[0]:26s} {r[1]:6s} {r[2]:10s} true {r[3]:.2e} estimate {r[4]:.2e}")
    if "--plot" in sys.argv:
        plot(table, sys.argv[sys.argv.index("--plot") + 1])
    if "--table" in sys.argv:
        for r in table:
            print(f"{r[0]:26s} {r[1]:6s} {r[2]:10s} true {r[3]:.2e} estimate {r[4]:.2e}")


if __name__ == "__main__":
    main()
