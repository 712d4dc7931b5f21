"""Solves the calibration set on a ladder of grids and keeps every printed entry.

    PYTHONPATH=build/python /usr/bin/python3 bench/calibration/run.py [values.json]

Results go to a JSON file (default bench/calibration/values.json) keyed by model, grid
kind and count scale; models already there are not solved again. Without the grid check:
the ladder is what an estimate is made from.
"""

from __future__ import annotations

import json
import math
import os
import sys
import time

import numpy as np

import qbr
from models import MODELS, REFERENCE_SCALES, REFERENCES

SCALES = (0.5, 1 / math.sqrt(2.0), 1.0, math.sqrt(2.0), 2.0)


def entries(result) -> dict[str, float]:
    """Every printed entry of the upper triangle, and the pair combinations
    (A_ii + A_jj)/2 - A_ij, by name."""
    out: dict[str, float] = {}
    mats = {"L": np.asarray(result.L)}
    if result.mode == "impedance":
        mats["R"] = np.asarray(result.R)
    if result.C is not None:
        mats["C"] = np.asarray(result.C)
    for key, m in mats.items():
        k = m.shape[0]
        for i in range(k):
            for j in range(i, k):
                out[f"{key}[{i + 1},{j + 1}]"] = float(m[i, j])
                if j > i:
                    out[f"{key}d[{i + 1},{j + 1}]"] = float(0.5 * (m[i, i] + m[j, j]) - m[i, j])
    return out


def solve(text: str) -> tuple[dict[str, float], float, int]:
    t = time.perf_counter()
    r = qbr.Model.from_text(text, strict=False).solve(grid_check=False, threads=2)
    return entries(r), time.perf_counter() - t, int(r.nd)


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                               "values.json")
    data = json.load(open(path)) if os.path.exists(path) else {}
    only = sys.argv[2:]
    for name, model in MODELS.items():
        if only and name not in only:
            continue
        d = data.setdefault(name, {})
        plan = [(kind, s) for kind in ("even", "graded") for s in SCALES]
        plan += [("graded", s) for s in REFERENCE_SCALES if s not in SCALES]
        if name in REFERENCES:
            plan += [("ref", s) for s in REFERENCE_SCALES]
        for kind, s in plan:
            key = f"{kind} {s:.6f}"
            if key in d:
                continue
            build = REFERENCES[name] if kind == "ref" else model
            values, seconds, nd = solve(build(s, "graded" if kind == "ref" else kind))
            d[key] = {"values": values, "seconds": seconds, "nd": nd}
            print(f"{name:28s} {key:16s} nd {nd:6d} {seconds:7.2f} s", flush=True)
            json.dump(data, open(path, "w"), indent=1, sort_keys=True)


if __name__ == "__main__":
    main()
