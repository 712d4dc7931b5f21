"""Synthesis: the one geometric parameter of a builder that gives a target Z0, Z_diff,
Z_even, Z_odd or eps_eff, by Brent's method over solves."""

from __future__ import annotations

import dataclasses
import inspect
import math
from typing import Any, Callable, Mapping, Union

from scipy.optimize import brentq

from ._model import Model, Result

# The quantities a target can name, each read from a result with line parameters.
_QUANTITIES: dict[str, tuple[str, Callable[[Result], float]]] = {
    "Z0": ("ohm", lambda r: float(r.Z0[0, 0].real)),
    "Z_diff": ("ohm", lambda r: float(r.details.differential_ohm.real)),
    "Z_common": ("ohm", lambda r: float(r.details.common_ohm.real)),
    "Z_even": ("ohm", lambda r: float(r.details.even_ohm.real)),
    "Z_odd": ("ohm", lambda r: float(r.details.odd_ohm.real)),
    "eps_eff": ("", lambda r: float(r.eps_eff[0])),
}


@dataclasses.dataclass
class Synthesis:
    """What :func:`synthesize` found.

    ``value`` is the parameter (in the builder's units), ``achieved`` the quantity there
    and ``error`` = achieved - target; ``parameter_error`` estimates how far ``value`` is
    from the exact root (|error| over the local slope); ``solves`` counts the solves,
    ``history`` lists every (parameter, quantity) in the order solved, and ``result`` is
    the solve at ``value``."""

    parameter: str
    quantity: str
    target: float
    value: float
    achieved: float
    error: float
    parameter_error: float
    solves: int
    converged: bool
    history: list[tuple[float, float]]
    result: Result

    def __str__(self) -> str:
        unit = _QUANTITIES.get(self.quantity, ("", None))[0]
        return (f"{self.parameter} = {self.value:.6g} (± {self.parameter_error:.2g}) gives "
                f"{self.quantity} = {self.achieved:.6g} {unit} (target {self.target:g}, error "
                f"{self.error:+.2g}) after {self.solves} solves").replace("  ", " ")


class _Reached(Exception):
    """Ends the root finder once the quantity is within the tolerance."""


def _check_parameter(build: Callable[..., Model], names: list[str]) -> None:
    try:
        signature = inspect.signature(build)
    except (TypeError, ValueError):
        return
    params = signature.parameters
    if any(p.kind is p.VAR_KEYWORD for p in params.values()):
        return
    for name in names:
        if name not in params:
            raise TypeError(f"{getattr(build, '__name__', 'the builder')}() takes no parameter "
                            f"'{name}'")


def synthesize(build: Callable[..., Model], target: float, parameter: str,
               bracket: tuple[float, float], *, quantity: Union[str, Callable[[Result], float]] = "Z0",
               tolerance: float = 1e-3, xtol: float = 0.0, max_solves: int = 30,
               log: bool | None = None, fixed: Mapping[str, Any] | None = None,
               threads: int | None = None, grid_check: bool = False,
               **solve_options: Any) -> Synthesis:
    """The value of ``parameter`` in ``bracket`` at which the model ``build(**{parameter:
    value}, **fixed)`` has ``quantity`` equal to ``target``.

    quantity: ``"Z0"`` (the real part of Zc[0, 0]: one line), ``"Z_diff"`` (2 Z_odd),
    ``"Z_common"`` (Z_even / 2), ``"Z_even"``, ``"Z_odd"`` (of a pair: Re of the line
    details' impedances), ``"eps_eff"`` (of the fastest mode), or any function of a
    :class:`Result` that returns a float. The model needs line parameters (a
    ``permittivity``, dielectric regions or layers).

    Brent's method (``scipy.optimize.brentq``) on the mismatch quantity - target; it ends
    when |mismatch| <= ``tolerance`` (in the quantity's units) or when the parameter is
    known to ``xtol``. With ``log`` (the default for a bracket of positive values) it works
    on the logarithm of the parameter, on which impedances depend nearly linearly, so it
    needs fewer solves. Raises ``ValueError`` naming the quantity at both ends when the
    target lies outside them, and ``RuntimeError`` after ``max_solves`` solves.
    Further keywords go to :meth:`Model.solve`; ``grid_check`` is off by default (a
    synthesis compares nearby geometries on one grid rule).
    """
    if isinstance(quantity, str):
        if quantity not in _QUANTITIES:
            raise ValueError(f"unknown quantity {quantity!r}: one of "
                             f"{', '.join(_QUANTITIES)}, or a function of a Result")
        name, unit, read = quantity, _QUANTITIES[quantity][0], _QUANTITIES[quantity][1]
    else:
        name = getattr(quantity, "__name__", "")
        name, unit, read = (name if name.isidentifier() else "the quantity"), "", quantity
    fixed = dict(fixed or {})
    _check_parameter(build, [parameter, *fixed])
    lo, hi = (float(v) for v in bracket)
    if not (math.isfinite(lo) and math.isfinite(hi)) or lo == hi:
        raise ValueError(f"the bracket {bracket} must be two different finite values")
    if not tolerance > 0:
        raise ValueError("the tolerance must be positive")
    if log is None:
        log = lo > 0 and hi > 0
    if log and not (lo > 0 and hi > 0):
        raise ValueError("log=True needs a bracket of positive values")
    to_x = math.log if log else (lambda v: v)
    from_x = math.exp if log else (lambda v: v)

    history: list[tuple[float, float]] = []
    results: dict[float, Result] = {}
    suffix = f" {unit}" if unit else ""

    def evaluate(value: float) -> float:
        if len(history) >= max_solves:
            raise RuntimeError(f"synthesis of {name} = {target:g}{suffix} did not reach the "
                               f"tolerance {tolerance:g} in {max_solves} solves")
        model = build(**{parameter: value}, **fixed)
        result = model.solve(threads=threads, grid_check=grid_check, **solve_options)
        if result.line is None:
            raise ValueError("synthesis needs line parameters: give the model a permittivity, "
                             "dielectric regions or layers")
        achieved = read(result)
        if not math.isfinite(achieved):
            raise ValueError(f"{name} is not finite at {parameter} = {value:g}")
        history.append((value, achieved))
        results[value] = result
        return achieved - target

    seen: dict[float, float] = {}
    x_lo, x_hi = to_x(lo), to_x(hi)

    def mismatch(x: float) -> float:
        # brentq evaluates the ends again: each parameter value is solved once.
        if x not in seen:
            seen[x] = evaluate(lo if x == x_lo else hi if x == x_hi else from_x(x))
        d = seen[x]
        if abs(d) <= tolerance:
            raise _Reached
        return d

    try:
        d_lo = mismatch(to_x(lo))
        d_hi = mismatch(to_x(hi))
        if d_lo * d_hi > 0:
            raise ValueError(
                f"the target {name} = {target:g}{suffix} is not between the ends of the bracket: "
                f"{parameter} = {lo:g} gives {name} = {history[0][1]:.6g}{suffix}, "
                f"{parameter} = {hi:g} gives {history[1][1]:.6g}{suffix}; widen the bracket")
        xt = xtol if not log else xtol / max(min(abs(lo), abs(hi)), 1e-300)
        brentq(mismatch, to_x(lo), to_x(hi), xtol=max(xt, 1e-15), rtol=1e-15,
               maxiter=max_solves)
        reached = False
    except _Reached:
        reached = True

    value, achieved = min(history, key=lambda h: abs(h[1] - target))
    # The slope from the nearest other solve gives the parameter's distance to the root.
    others = sorted((h for h in history if h[0] != value), key=lambda h: abs(h[0] - value))
    parameter_error = math.inf
    if others:
        v2, a2 = others[0]
        slope = (a2 - achieved) / (v2 - value)
        if slope != 0:
            parameter_error = abs((achieved - target) / slope)
    return Synthesis(parameter=parameter, quantity=name, target=float(target), value=value,
                     achieved=achieved, error=achieved - target,
                     parameter_error=parameter_error, solves=len(history),
                     converged=reached or abs(achieved - target) <= tolerance,
                     history=history, result=results[value])
