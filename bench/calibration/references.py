"""Writes the references of the calibration set (references.json) from the ladder of
solves that run.py keeps (values.json): per model and printed entry, the graded solution
extrapolated from its three finest grids, or the closed form where EXACT has one, with the
step of the extrapolation as its uncertainty.

    /usr/bin/python3 bench/calibration/references.py
"""

from __future__ import annotations

import json
import math
import os

from analyze import R2, key
from models import EXACT


def extrapolate(a: float, b: float, c: float, r: float) -> float:
    """The error of c (c - limit) from three grids refined by r, Richardson's rule with
    the observed order bounded to 0.5..4 (fine graded grids of smooth outlines converge
    faster than second order); where the steps are irregular, the larger step times the
    factor of order 0.5, as an uncertainty that disqualifies the reference."""
    d1, d2 = a - b, b - c
    slow = r ** 0.5 / (r ** 0.5 - 1.0)
    if d2 == 0.0:
        return 0.0
    q = d1 / d2
    if q > 1.0:
        p = min(max(math.log(q) / math.log(r), 0.5), 4.0)
        return d2 / (r ** p - 1.0)
    return math.copysign(abs(d2) * slow, d2)

here = os.path.dirname(os.path.abspath(__file__))
data = json.load(open(os.path.join(here, "values.json")))
out = {}
for model, v in data.items():
    family = "ref" if key("ref", 4.0) in v else "graded"
    grids = [v[key(family, s)]["values"] for s in (2.0, 2 * R2, 4.0)]
    out[model] = {}
    for name in grids[-1]:
        a, b, c = (g[name] for g in grids)
        err = extrapolate(a, b, c, R2)
        ref, unc = c - err, abs(err)
        if name in EXACT.get(model, {}):
            ref, unc = EXACT[model][name], 0.0
        out[model][name] = [ref, unc]
json.dump(out, open(os.path.join(here, "references.json"), "w"), indent=1, sort_keys=True)
print(f"{sum(len(x) for x in out.values())} references of {len(out)} models")
