"""Closed-form checks of the finite-element capacitance reference (coarse levels, ~15 s).

Run: /usr/bin/python3 -m pytest bench/reference   (skipped without python3-gmsh)
"""
import io
import os
import sys

import pytest

pytest.importorskip("gmsh")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fem_capacitance as fc  # noqa: E402


@pytest.mark.parametrize("case", ["coax_shells", "coax_half", "twowire"])
def test_closed_form(case):
    """Layered and half-filled coax (enclosed) and the open two-wire line (Kelvin far
    field) against their closed forms: the finest value, the extrapolated value, and
    the extrapolation's own error bar must all hold."""
    model = fc.CASES[case]
    exact = model["exact"][0][0]
    rows = fc.run(model, levels=5, out=io.StringIO())
    values = [r["C"][0, 0] for r in rows]
    c_inf, err, _ = fc.richardson([r["dof"] for r in rows], values)
    assert abs(values[-1] - exact) < 1e-5 * exact
    assert abs(c_inf - exact) < 3e-6 * exact
    assert abs(c_inf - exact) <= 1.5 * err
