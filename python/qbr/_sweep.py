"""Parameter sweeps: many models, solved on any concurrent.futures executor."""

from __future__ import annotations

import concurrent.futures as cf
import contextlib
import difflib
import inspect
import itertools
import multiprocessing
import os
import pickle
import sys
import warnings
from typing import Any, Callable, Iterable, Mapping

import numpy as np

from ._model import Model, ModelError, _options

# Columns of models with a permittivity: C, G and Y = G + j omega C per metre.
_LINE_COLUMNS = ("C_F_per_m", "G_S_per_m", "Y_S_per_m", "Z0_ohm", "eps_eff", "velocity_m_per_s",
                 "alpha_conductor_dB_per_m", "alpha_dielectric_dB_per_m")

_DB_PER_NP = 20.0 / np.log(10.0)
# Columns of models with patches of kinds mb or twofluid; alpha and Q_c belong to a
# conductor and fill the rows i == j only.
_SUPERCONDUCTOR_COLUMNS = ("temperature_K", "L_ext_H_per_m", "L_k_H_per_m", "alpha", "Q_c")

# Names that sweep() takes for itself; an axis with one of them goes in a list of points.
_OWN_KEYWORDS = ("executor", "progress", "threads", "grid_check")


def _rows(params: Mapping[str, Any], build: Callable[..., Model], threads: int,
          grid_check: bool, solve_options: Mapping[str, Any]) -> list[dict]:
    """Builds and solves one point; the rows of its matrix entries, or one row with the
    message when it fails. Runs where the executor puts it, so it returns plain data."""
    base = dict(params)
    try:
        model = build(**params)
        result = model.solve(threads, grid_check, **solve_options)
    except ModelError as error:
        return [dict(base, error=str(error))]
    except Exception as error:  # the builder's own mistakes are recorded as well
        return [dict(base, error=f"{type(error).__name__}: {error}")]
    L, R, Z = result.L, result.R, result.Z
    common = dict(base, nd=result.nd, frequency_Hz=result.frequency_Hz,
                  warnings="; ".join(result.warnings), error=None)
    n = result.conductors
    rows = [dict(common, i=i + 1, j=j + 1, L_H_per_m=float(L[i, j]), R_ohm_per_m=float(R[i, j]),
                 Z_ohm_per_m=complex(Z[i, j]))
            for i in range(n) for j in range(n)]
    if result.roughness is not None:  # R with the roughness, R_smooth and each patch's K
        R_smooth = result.R_smooth
        factors = {f"K_patch{p.patch}": p.factor for p in result.roughness.patches}
        for row in rows:
            row.update(R_smooth_ohm_per_m=float(R_smooth[row["i"] - 1, row["j"] - 1]), **factors)
    if result.line is not None:  # the model gives the permittivity or dielectric regions
        C, G, omega, Z0 = result.C, result.G, result.omega_rad_per_s, result.Z0
        details = result.details
        for row in rows:
            i, j = row["i"] - 1, row["j"] - 1
            row.update(C_F_per_m=float(C[i, j]), G_S_per_m=float(G[i, j]),
                       Y_S_per_m=complex(G[i, j], omega * C[i, j]), Z0_ohm=complex(Z0[i, j]))
            if i == j:  # the modes, fastest first, on the diagonal rows
                row.update(eps_eff=float(details.effective_permittivity[i]),
                           velocity_m_per_s=float(result.velocity[i]),
                           alpha_conductor_dB_per_m=float(
                               details.conductor_attenuation_Np_per_m[i] * _DB_PER_NP),
                           alpha_dielectric_dB_per_m=float(
                               details.dielectric_attenuation_Np_per_m[i] * _DB_PER_NP))
    report = result.superconductors
    if report is not None:
        L_ext, L_k, alpha, Q_c = result.L_ext, result.L_k, result.alpha, result.Q_c
        for row in rows:
            i, j = row["i"] - 1, row["j"] - 1
            row.update(temperature_K=report.temperature_K, L_ext_H_per_m=float(L_ext[i, j]),
                       L_k_H_per_m=float(L_k[i, j]),
                       alpha=float(alpha[i]) if i == j else float("nan"),
                       Q_c=float(Q_c[i]) if i == j and len(Q_c) else float("nan"))
    return rows


def _rows_pickled(build: bytes, params, threads, grid_check, solve_options) -> list[dict]:
    """_rows with the builder sent as cloudpickle bytes (lambdas and closures included)."""
    return _rows(params, pickle.loads(build), threads, grid_check, solve_options)


def default_executor(workers: int | None = None) -> cf.Executor:
    """The executor a sweep uses when given none: one process per core, each solve on one
    thread (the README's Performance section has the measurement behind the choice).
    The processes are forked from a clean server process (forkserver), since OpenMP's
    runtime does not survive a fork from a process that has used it."""
    context = multiprocessing.get_context("forkserver")
    return cf.ProcessPoolExecutor(max_workers=workers or os.cpu_count() or 1, mp_context=context)


@contextlib.contextmanager
def _main_left_out():
    """Keeps new worker processes of a spawn or forkserver pool from running the main
    script again: they would, to find what the parent defined there, and a script without
    an ``if __name__ == "__main__"`` guard would start its sweep once more in each. Builders
    travel by value (cloudpickle), so the workers need nothing from the main script."""
    main = sys.modules.get("__main__")
    saved = {name: main.__dict__.pop(name) for name in ("__file__",) if main and name in main.__dict__}
    spec = getattr(main, "__spec__", None)
    if main is not None and spec is not None:
        main.__spec__ = None
    try:
        yield
    finally:
        if main is not None:
            main.__dict__.update(saved)
            if spec is not None:
                main.__spec__ = spec


def _points(points: Iterable[Mapping[str, Any]] | None, axes: Mapping[str, Iterable]) -> list[dict]:
    if points is not None and axes:
        raise TypeError("sweep() takes either a list of points or axes, not both")
    if points is not None:
        return [dict(p) for p in points]
    names = list(axes)
    return [dict(zip(names, values)) for values in itertools.product(*(list(axes[n]) for n in names))]


def _check_parameters(build: Callable[..., Model], todo: list[dict]) -> None:
    """Raises TypeError before any point runs when the build function cannot take a
    point's parameters (a misspelt axis, one it lacks): every point would fail alike."""
    try:
        signature = inspect.signature(build)
    except (TypeError, ValueError):  # builtins and the like: let the points tell
        return
    parameters = signature.parameters
    takes_any = any(p.kind is inspect.Parameter.VAR_KEYWORD for p in parameters.values())
    names = [name for name, p in parameters.items()
             if p.kind in (inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.KEYWORD_ONLY)]
    label = getattr(build, "__name__", type(build).__name__)
    for keys in dict.fromkeys(tuple(p) for p in todo):
        if not takes_any:
            for key in keys:
                if key not in names:
                    close = difflib.get_close_matches(key, names, n=1)
                    hint = f" (did you mean {close[0]!r}?)" if close else ""
                    raise TypeError(f"sweep(): {label}() takes no parameter {key!r}{hint}; "
                                    f"it takes {', '.join(names) or 'none'}")
        try:
            signature.bind(**dict.fromkeys(keys))
        except TypeError as error:
            raise TypeError(f"sweep(): {label}() cannot take the points' parameters "
                            f"{', '.join(keys) or '(none)'}: {error}") from None


def _progress_bar(progress: bool | None, total: int):
    if progress is None:
        progress = sys.stderr.isatty()
    if not progress:
        return None
    from tqdm import tqdm

    return tqdm(total=total, unit="point", desc="qbr sweep")


def sweep(build: Callable[..., Model], points: Iterable[Mapping[str, Any]] | None = None, /, *,
          executor: cf.Executor | None = None, progress: bool | None = None, threads: int = 1,
          grid_check: bool = True, solve_options: Mapping[str, Any] | None = None,
          **axes: Iterable):
    """Solves ``build(**params)`` for every point and returns a tidy DataFrame.

    Points are the Cartesian product of the keyword axes (``width=[1, 2, 4],
    gap=[0.5, 1]``, the first axis outermost), or the given list of parameter dicts.

    The table has one row per point and matrix entry: the parameters, ``point`` (the
    point's place in the list), ``i`` and ``j`` (conductors, from 1), ``L_H_per_m``,
    ``R_ohm_per_m``, ``Z_ohm_per_m`` (complex), for a model with a surface roughness
    ``R_smooth_ohm_per_m`` (R without it) and ``K_patch<n>`` (each dissipating patch's
    roughness factor at the point's frequency), for a model with a ``permittivity`` or
    dielectric regions also ``C_F_per_m``, ``G_S_per_m``, ``Y_S_per_m`` (G + j omega C,
    complex; the table then makes a Touchstone file with :func:`touchstone`) and
    ``Z0_ohm`` (the characteristic impedance matrix's entry, complex), and on the
    diagonal rows (i = j = k) the k-th mode's ``eps_eff``, ``velocity_m_per_s`` and
    attenuation ``alpha_conductor_dB_per_m`` and ``alpha_dielectric_dB_per_m``, for a
    model with patches of kinds ``mb`` or ``twofluid`` also ``temperature_K``,
    ``L_ext_H_per_m``, ``L_k_H_per_m`` and, in the rows i == j, ``alpha`` and ``Q_c``
    (omega L / R); then
    ``nd``, ``frequency_Hz``, ``warnings`` (the run's warnings, joined by "; ") and
    ``error``. A point whose build or solve fails has one row, with ``i`` and ``j`` empty
    and its message in ``error``; the sweep goes on. Parameters the build function does
    not take (a misspelt axis) raise TypeError at once, before any point runs. Rows come
    in the order of the points, whatever order they finish in, so every executor gives
    the same table. The parameters' names are in ``table.attrs["parameters"]``.

    executor: any ``concurrent.futures.Executor``: a ``ThreadPoolExecutor``, a
    ``ProcessPoolExecutor``, or a Dask cluster's (``distributed.Client(...).get_executor()``).
    None: :func:`default_executor`, shut down at the end. Builders go to processes with
    cloudpickle, so lambdas and closures work.
    progress: a tqdm bar; None shows it when standard error is a terminal.
    threads: threads per solve (1: the points run side by side); grid_check: the
    program's estimate of the grid error per point (about three times each solve;
    turn it off when the sweep itself compares grids, or let the builder ask for an
    accuracy). solve_options: further SolveOptions.
    Interrupted (Ctrl-C), it cancels the points not started and returns the finished ones,
    the others marked "interrupted".
    """
    import pandas as pd

    todo = _points(points, axes)
    _check_parameters(build, todo)
    solve_options = dict(solve_options or {})
    _options(threads, grid_check, solve_options)  # unknown solve options fail here, once
    own = executor is None
    if own:
        executor = default_executor()
    if isinstance(executor, cf.ProcessPoolExecutor):
        try:
            import cloudpickle

            payload = cloudpickle.dumps(build)
        except ImportError:
            payload = pickle.dumps(build)
        submit = lambda p: executor.submit(_rows_pickled, payload, p, threads, grid_check,
                                           solve_options)
    else:
        submit = lambda p: executor.submit(_rows, p, build, threads, grid_check, solve_options)

    rows: list[list[dict] | None] = [None] * len(todo)
    bar = _progress_bar(progress, len(todo))
    futures: dict[cf.Future, int] = {}
    try:
        with _main_left_out() if isinstance(executor, cf.ProcessPoolExecutor) else contextlib.nullcontext():
            for k, p in enumerate(todo):
                futures[submit(p)] = k
        for future in cf.as_completed(futures):
            k = futures[future]
            try:
                rows[k] = future.result()
            except Exception as error:  # a lost worker, a builder that cannot travel
                rows[k] = [dict(todo[k], error=f"{type(error).__name__}: {error}")]
            if bar is not None:
                bar.update()
    except KeyboardInterrupt:
        for future in futures:
            future.cancel()
        warnings.warn("qbr.sweep interrupted: returning the points finished so far")
    finally:
        if bar is not None:
            bar.close()
        if own:
            executor.shutdown(wait=False, cancel_futures=True)

    table = []
    for k, point_rows in enumerate(rows):
        for row in point_rows if point_rows is not None else [dict(todo[k], error="interrupted")]:
            table.append(dict(row, point=k))
    frame = pd.DataFrame(table)
    columns = list(todo[0]) if todo else []
    columns += ["point", "i", "j", "L_H_per_m", "R_ohm_per_m", "Z_ohm_per_m"]
    if "R_smooth_ohm_per_m" in frame:
        columns += ["R_smooth_ohm_per_m"]
        columns += sorted((c for c in frame if c.startswith("K_patch")), key=lambda c: int(c[7:]))
    columns += [name for name in _LINE_COLUMNS + _SUPERCONDUCTOR_COLUMNS if name in frame]
    columns += ["nd", "frequency_Hz", "warnings", "error"]
    frame = frame.reindex(columns=list(dict.fromkeys(columns)))
    frame.attrs["parameters"] = list(todo[0]) if todo else []
    for name in ("i", "j", "nd"):
        frame[name] = frame[name].astype("Int64")
    return frame


class _WithFrequency:
    """Builder of a frequency sweep: a copy of one model at each frequency."""

    def __init__(self, model: Model) -> None:
        self.model = model

    def __call__(self, frequency_Hz: float) -> Model:
        return self.model.copy().frequency(float(frequency_Hz), "hz")


def frequency_sweep(model: Model, frequency_Hz: Iterable[float], **options: Any):
    """The table of :func:`sweep` for one model over frequencies in Hz (its other settings
    as they are); keywords as for :func:`sweep`::

        table = qbr.frequency_sweep(coax, numpy.logspace(0, 10, 41))
    """
    return sweep(_WithFrequency(model), frequency_Hz=list(frequency_Hz), **options)


class _WithTemperature:
    """Builder of a temperature sweep: a copy of one model at each temperature."""

    def __init__(self, model: Model) -> None:
        self.model = model

    def __call__(self, temperature_K: float) -> Model:
        return self.model.copy().temperature(float(temperature_K), "k")


def temperature_sweep(model: Model, temperature_K: Iterable[float], **options: Any):
    """The table of :func:`sweep` for one model over temperatures in kelvin (its other
    settings as they are): for models with patches of kinds ``mb`` or ``twofluid``, whose
    conductivity depends on it; keywords as for :func:`sweep`::

        table = qbr.temperature_sweep(cpw, numpy.linspace(1, 8.5, 16))
        qbr.plot.alpha_q(table)
    """
    return sweep(_WithTemperature(model), temperature_K=list(temperature_K), **options)
