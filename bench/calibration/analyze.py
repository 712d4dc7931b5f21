"""Compares grid-error estimates with the true errors on the calibration set.

    /usr/bin/python3 bench/calibration/analyze.py [values.json] [--table]

The true error of an entry on a used grid is its distance from its reference
(references.json: the graded solution extrapolated from three fine grids, or a closed
form; the largest uncertainty is printed and must be far below the errors judged). The
estimates here are the ladder alone, without the program's rule for unresolved fields
(check.py judges the program's own). Errors are relative to the entry, or for an
off-diagonal entry below a thousandth of its diagonal scale, to that thousandth.
"""

from __future__ import annotations

import json
import math
import os
import re
import sys


R2 = math.sqrt(2.0)


def key(kind: str, s: float) -> str:
    return f"{kind} {s:.6f}"


def richardson(a: float, b: float, c: float, r: float, pmin: float = 1.0,
               pmax: float = 2.0) -> tuple[float, float]:
    """Values a, b, c on grids whose counts grow by r each: the error of b and of c
    (b - limit, c - limit) by Richardson's rule with the observed order, bounded to
    pmin..pmax, as the program estimates it. Where the steps change sign the larger step
    stands for the error; where they grow, the larger step times the factor of order pmin."""
    d1, d2 = a - b, b - c
    slow = r ** pmin / (r ** pmin - 1.0)
    if d2 == 0.0:
        return abs(d1) * slow, 0.0
    q = d1 / d2
    if q > 1.0:
        p = min(max(math.log(q) / math.log(r), pmin), pmax)
        f = r ** p
        return d2 * f / (f - 1.0), d2 / (f - 1.0)
    factor = 1.0 if q < 0.0 else slow
    big = max(abs(d1), abs(d2))
    return math.copysign(big * factor, d2), math.copysign(abs(d2) * factor, d2)


def estimators(v: dict, kind: str, name: str) -> dict[str, float]:
    g = lambda s: v[key(kind, s)]["values"][name]
    return {
        "coarse 1/2,1/r2,1": richardson(g(0.5), g(1 / R2), g(1.0), R2)[1],
        "fine 1/r2,1,r2": richardson(g(1 / R2), g(1.0), g(R2), R2)[0],
        "fine 1/2,1,2": richardson(g(0.5), g(1.0), g(2.0), 2.0)[0],
    }


def scale_of(values: dict, name: str) -> float:
    m = re.match(r"(\w+?)(d?)\[(\d+),(\d+)\]", name)
    mat, diff, i, j = m.group(1), m.group(2), int(m.group(3)), int(m.group(4))
    own = abs(values[name])
    if diff or i == j:
        return own
    diag = math.sqrt(abs(values[f"{mat}[{i},{i}]"] * values[f"{mat}[{j},{j}]"]))
    return max(own, 1e-3 * diag)


def main() -> None:
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    path = args[0] if args else os.path.join(os.path.dirname(__file__), "values.json")
    data = json.load(open(path))
    refs = json.load(open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                       "references.json")))
    rows = []
    worst_ref = 0.0
    for model, v in data.items():
        if model not in refs:
            continue
        for kind in ("even", "graded"):
            if not all(key(kind, s) in v for s in (0.5, 1 / R2, 1.0, R2, 2.0)):
                continue
            used = v[key(kind, 1.0)]["values"]
            for name in used:
                ref, ref_err = refs[model][name]
                scale = scale_of(used, name)
                if scale == 0.0:
                    continue
                worst_ref = max(worst_ref, abs(ref_err) / scale)
                true = abs(used[name] - ref) / scale
                est = {k: abs(e) / scale for k, e in estimators(v, kind, name).items()}
                rows.append((model, kind, name, true, est, abs(ref_err) / scale))
    names = list(rows[0][4])
    print(f"{len(rows)} entries of {len(data)} models; largest step of a reference "
          f"beyond its extrapolation {worst_ref:.1e}")
    for e in names:
        big = [r for r in rows if r[3] > 0.01]
        miss = [r for r in big if r[4][e] < r[3] / 3]
        alarms = [r for r in rows if r[4][e] >= 0.01]
        false = [r for r in alarms if r[4][e] > 3 * r[3]]
        within = sum(1 for r in rows if r[3] / 3 <= r[4][e] <= 3 * r[3])
        print(f"{e:20s} true>1%: {len(big):3d}  missed: {len(miss):3d}   "
              f"estimates>=1%: {len(alarms):3d}  >3x true: {len(false):3d}   "
              f"within 3x: {within}/{len(rows)}")
        for r in miss:
            print(f"    miss  {r[0]:26s} {r[1]:6s} {r[2]:10s} true {r[3]:.2e} est {r[4][e]:.2e}")
        for r in false:
            print(f"    alarm {r[0]:26s} {r[1]:6s} {r[2]:10s} true {r[3]:.2e} est {r[4][e]:.2e}")
    if "--table" in sys.argv:
        for r in rows:
            print(f"{r[0]:26s} {r[1]:6s} {r[2]:10s} true {r[3]:.2e} "
                  + " ".join(f"{x:.2e}" for x in r[4].values()) + f"  ref {r[5]:.0e}")


if __name__ == "__main__":
    main()
