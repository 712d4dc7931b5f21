"""Solves and sweeps for the workbench, in worker processes that can be stopped.

A solve cannot be interrupted inside the library, so cancelling one ends its process.
The pool keeps its workers started ahead (a started worker has imported qbr and its
libraries), so a solve starts at once; a worker that was ended is replaced in the
background. Workers are spawned, not forked: OpenMP's runtime does not survive a fork of
a process that has used it.
"""

from __future__ import annotations

import itertools
import math
import multiprocessing
import threading
import time
import traceback
from collections import OrderedDict
from typing import Any, Callable

# -- in the worker process ------------------------------------------------------------


def _finite(x: float) -> float | None:
    x = float(x)
    return x if math.isfinite(x) else None


def _matrix(a) -> list | dict | None:
    if a is None:
        return None
    import numpy as np

    a = np.asarray(a)
    if a.dtype.kind == "c":
        return {"re": [[_finite(v.real) for v in row] for row in np.atleast_2d(a)],
                "im": [[_finite(v.imag) for v in row] for row in np.atleast_2d(a)]}
    if a.ndim == 1:
        return [_finite(v) for v in a]
    return [[_finite(v) for v in row] for row in a]


def _accuracy(doc: dict) -> dict | None:
    """Accuracy estimates, when the library's result carries them (members whose name
    speaks of accuracy or error estimates); None when it does not."""
    found = {k: v for k, v in doc.items()
             if any(word in k.lower() for word in ("accuracy", "error_estimate", "estimate"))}
    return found or None


def summary(result, json_text: str) -> dict[str, Any]:
    """What the page shows of a result: its matrices in SI units, the line parameters,
    the warnings, accuracy estimates when there are any, and the current density of
    the first excitation at every node (for the drawing)."""
    import json

    doc = json.loads(json_text)
    out: dict[str, Any] = {
        "conductors": result.conductors,
        "nd": result.nd,
        "mode": result.mode,
        "frequency_Hz": result.frequency_Hz,
        "length_unit": result.length_unit,
        "L_H_per_m": _matrix(result.L),
        "R_ohm_per_m": _matrix(result.R),
        "printed": doc["matrices"]["printed"],
        "warnings": list(result.warnings),
        "phase_times_s": doc.get("phase_times_s", {}),
        "accuracy": _accuracy(doc),
    }
    line = doc.get("line_parameters")
    if line is not None:
        details = line.get("details") or {}
        out["line"] = {
            "lossless": line.get("lossless"),
            "C_F_per_m": line.get("capacitance_F_per_m"),
            "G_S_per_m": line.get("conductance_S_per_m"),
            "C0_F_per_m": line.get("vacuum_capacitance_F_per_m"),
            "Z0_ohm": line.get("characteristic_impedance_ohm"),
            "velocity_m_per_s": line.get("modes", {}).get("velocity_m_per_s"),
            "attenuation_Np_per_m": line.get("modes", {}).get("attenuation_Np_per_m"),
            "eps_eff": details.get("effective_permittivity"),
            "conductor_attenuation_Np_per_m": details.get("conductor_attenuation_Np_per_m"),
            "dielectric_attenuation_Np_per_m": details.get("dielectric_attenuation_Np_per_m"),
            "even_ohm": details.get("even_ohm"),
            "odd_ohm": details.get("odd_ohm"),
        }
        if out["line"]["eps_eff"] is None:
            try:
                out["line"]["eps_eff"] = _matrix(result.eps_eff)
            except Exception:  # the details need what a homogeneous line may lack
                pass
    excitation = (doc.get("excitations") or [None])[0]
    if excitation is not None:
        nodes = excitation["nodes"]
        re = nodes["current_density_A_per_m_per_A_re"]
        im = nodes["current_density_A_per_m_per_A_im"]
        out["nodes"] = {
            "x": nodes["x_length_units"],
            "y": nodes["y_length_units"],
            "j": [math.hypot(a, b) for a, b in zip(re, im)],
        }
    return out


def _csv(result) -> str:
    """One row per matrix entry: L, R (and C, G, Z0 with line parameters), SI units."""
    n = result.conductors
    line = result.line
    head = ["i", "j", "L_H_per_m", "R_ohm_per_m"]
    if line is not None:
        head += ["C_F_per_m", "G_S_per_m", "Z0_re_ohm", "Z0_im_ohm"]
    rows = [",".join(head)]
    for i in range(n):
        for j in range(n):
            cells = [i + 1, j + 1, repr(float(result.L[i, j])), repr(float(result.R[i, j]))]
            if line is not None:
                z0 = result.Z0[i, j]
                cells += [repr(float(result.C[i, j])), repr(float(result.G[i, j])),
                          repr(float(z0.real)), repr(float(z0.imag))]
            rows.append(",".join(str(c) for c in cells))
    return "\n".join(rows) + "\n"


def _downloads(result, json_text: str, length_m: float) -> dict[str, str]:
    import qbr

    files = {"json": json_text, "csv": _csv(result)}
    if result.line is not None:
        try:
            files["spice"] = result.spice_model(length_m)
        except qbr.ModelError:
            pass
        try:
            files["touchstone"] = qbr._core.touchstone([result._core], length_m)
        except qbr.ModelError:
            pass
    return files


def _solve(job: dict, report: Callable[[dict], None]) -> dict:
    import qbr

    model = qbr.Model.from_text(job["text"], strict=False)
    weights = {"fill": (0.0, 0.45), "factorisation": (0.45, 0.45)}

    def progress(phase: str, done: int, total: int) -> None:
        start, span = weights.get(phase, (0.0, 0.0))
        report({"phase": phase, "fraction": start + span * (done / total if total else 0.0)})

    # The result first, without the grid's error estimate (whose solves on two more grids
    # take about three times as long), so that the page shows it at once; then the whole.
    quick = model.solve(threads=job.get("threads"), progress=progress, grid_check=False)
    report({"phase": "estimating the grid's error", "fraction": 0.5,
            "partial": summary(quick, quick.to_json())})
    result = model.solve(threads=job.get("threads"))
    report({"phase": "finishing", "fraction": 0.95})
    text = result.to_json()
    return {"summary": summary(result, text),
            "files": _downloads(result, text, job.get("length_m", 0.01))}


def _sweep(job: dict, report: Callable[[dict], None]) -> dict:
    import qbr
    from . import builders

    param, values = job["param"], job["values"]
    base = qbr.Model.from_text(job["text"], strict=False) if "text" in job else None

    param2, values2 = job.get("param2"), job.get("values2") or [None]

    def model_at(value: float, value2: float | None) -> "qbr.Model":
        if base is not None:  # the editor's model at another frequency (GHz)
            return base.copy().frequency(value, "ghz")
        params = dict(job["params"], **{param: value})
        if param2 is not None:
            params[param2] = value2
        return qbr.Model.from_text(builders.build(job["kind"], params), strict=False)

    grid = [(value, value2) for value2 in values2 for value in values]
    points, results = [], []
    for k, (value, value2) in enumerate(grid):
        report({"phase": f"point {k + 1} of {len(grid)}", "fraction": k / len(grid)})
        point: dict[str, Any] = {"value": value}
        if param2 is not None:
            point["value2"] = value2
        try:
            result = model_at(value, value2).solve(threads=job.get("threads"), grid_check=False)
            results.append(result)
            point["L11_H_per_m"] = _finite(result.L[0, 0])
            point["R11_ohm_per_m"] = _finite(result.R[0, 0])
            if result.line is not None:
                point["C11_F_per_m"] = _finite(result.C[0, 0])
                point["Z0_ohm"] = _finite(result.Z0[0, 0].real)
                try:
                    point["eps_eff"] = _finite(result.eps_eff[0])
                except Exception:
                    pass
        except (qbr.ModelError, builders.BuildError) as error:
            point["error"] = str(error).strip()
        points.append(point)
    columns = ["value"] + (["value2"] if param2 is not None else []) + ["L11_H_per_m", "R11_ohm_per_m", "C11_F_per_m", "Z0_ohm", "eps_eff", "error"]
    csv = [",".join(columns)]
    for p in points:
        csv.append(",".join("" if p.get(c) is None else str(p[c]).replace(",", ";") for c in columns))
    files = {"csv": "\n".join(csv) + "\n"}
    if base is not None and len(results) == len(values) and results[0].line is not None:
        # A frequency sweep of a line: its S-parameters over the band.
        files["touchstone"] = qbr._core.touchstone([r._core for r in results], job.get("length_m", 0.01))
    summary = {"param": param, "param2": param2, "points": points,
               "conductors": results[0].conductors if results else 1}
    return {"summary": summary, "files": files}


def _worker_main(conn) -> None:
    import qbr  # noqa: F401  (started ahead: the import is the slow part of a start)

    while True:
        try:
            job = conn.recv()
        except EOFError:
            return
        if job is None:
            return

        def report(state: dict) -> None:
            conn.send(("progress", state))

        try:
            work = _solve if job["type"] == "solve" else _sweep
            conn.send(("done", work(job, report)))
        except Exception as error:  # ModelError and the rest: the page shows the message
            import qbr as q

            message = str(error).strip() if isinstance(error, q.ModelError) else (
                f"{type(error).__name__}: {error}")
            if not isinstance(error, q.ModelError):
                traceback.print_exc()
            conn.send(("error", message))


# -- in the server ----------------------------------------------------------------------


class Job:
    def __init__(self, job_id: str, spec: dict) -> None:
        self.id = job_id
        self.spec = spec
        self.type = spec["type"]
        self.state = "queued"  # queued, running, done, error, cancelled
        self.progress: dict = {"phase": "queued", "fraction": 0.0}
        self.summary: dict | None = None
        self.partial: dict | None = None  # a solve's result before its error estimate
        self.files: dict[str, str] = {}
        self.error: str | None = None
        self.created = time.monotonic()
        self.started: float | None = None
        self.finished: float | None = None
        self.cancel_requested = False
        self.worker: "_Worker | None" = None

    def public(self) -> dict:
        out = {"id": self.id, "type": self.type, "state": self.state, "progress": self.progress}
        if self.state == "done":
            out["result"] = self.summary
            out["downloads"] = sorted(self.files)
        elif self.state == "running" and self.partial is not None:
            out["partial"] = self.partial
        if self.error is not None:
            out["error"] = self.error
        if self.started is not None:
            out["seconds"] = (self.finished or time.monotonic()) - self.started
        return out


class _Worker:
    def __init__(self, context) -> None:
        self.conn, child = context.Pipe()
        self.process = context.Process(target=_worker_main, args=(child,), daemon=True)
        self.process.start()
        child.close()

    def stop(self) -> None:
        if self.process.is_alive():
            self.process.kill()
        self.process.join(5)
        self.conn.close()


class JobPool:
    """At most ``workers`` jobs run at once, each in its own process; at most
    ``max_queued`` wait; the last ``keep`` finished jobs stay for their downloads."""

    def __init__(self, workers: int = 2, max_queued: int = 8, keep: int = 32,
                 threads: int | None = None) -> None:
        self._context = multiprocessing.get_context("spawn")
        self._lock = threading.Condition()
        self._jobs: "OrderedDict[str, Job]" = OrderedDict()
        self._queue: list[Job] = []
        self._ids = itertools.count(1)
        self._max_queued = max_queued
        self._keep = keep
        self._threads = threads
        self._idle: list[_Worker] = []
        self._closed = False
        self._runners = [threading.Thread(target=self._run, daemon=True, name=f"qbr-web-runner-{k}")
                         for k in range(workers)]
        for _ in range(workers):
            self._idle.append(_Worker(self._context))
        for runner in self._runners:
            runner.start()

    class Full(Exception):
        pass

    def submit(self, spec: dict) -> Job:
        with self._lock:
            if len(self._queue) >= self._max_queued:
                raise JobPool.Full("too many jobs waiting; try again when one has finished")
            spec = dict(spec, threads=self._threads)
            job = Job(f"{next(self._ids)}-{int(time.time() * 1000) % 100000}", spec)
            self._jobs[job.id] = job
            self._queue.append(job)
            self._forget_old()
            self._lock.notify_all()
            return job

    def get(self, job_id: str) -> Job | None:
        with self._lock:
            return self._jobs.get(job_id)

    def cancel(self, job_id: str) -> Job | None:
        with self._lock:
            job = self._jobs.get(job_id)
            if job is None:
                return None
            if job.state == "queued":
                self._queue.remove(job)
                job.state = "cancelled"
                job.progress = {"phase": "cancelled", "fraction": 0.0}
            elif job.state == "running":
                job.cancel_requested = True
                if job.worker is not None:
                    job.worker.process.kill()  # its runner sees the pipe close
            return job

    def close(self) -> None:
        with self._lock:
            self._closed = True
            self._lock.notify_all()
            workers = list(self._idle)
            for job in self._jobs.values():
                if job.worker is not None:
                    workers.append(job.worker)
        for worker in workers:
            worker.stop()

    def _forget_old(self) -> None:
        finished = [j for j in self._jobs.values() if j.state in ("done", "error", "cancelled")]
        for job in finished[: max(0, len(finished) - self._keep)]:
            del self._jobs[job.id]

    def _take_worker(self) -> _Worker:
        with self._lock:
            while self._idle:
                worker = self._idle.pop()
                if worker.process.is_alive():
                    return worker
                worker.stop()
        return _Worker(self._context)

    def _run(self) -> None:
        while True:
            with self._lock:
                while not self._queue and not self._closed:
                    self._lock.wait()
                if self._closed:
                    return
                job = self._queue.pop(0)
                job.state = "running"
                job.started = time.monotonic()
                job.progress = {"phase": "starting", "fraction": 0.0}
            worker = self._take_worker()
            with self._lock:
                job.worker = worker
                if job.cancel_requested:
                    worker.process.kill()
            self._drive(job, worker)

    def _drive(self, job: Job, worker: _Worker) -> None:
        healthy = True
        try:
            worker.conn.send(job.spec)
            while True:
                kind, payload = worker.conn.recv()
                if kind == "progress":
                    with self._lock:
                        if "partial" in payload:
                            job.partial = payload.pop("partial")
                        job.progress = payload
                    continue
                with self._lock:
                    if kind == "done":
                        job.summary = payload["summary"]
                        job.files = payload["files"]
                        job.state = "done"
                        job.progress = {"phase": "done", "fraction": 1.0}
                    else:
                        job.error = payload
                        job.state = "error"
                        job.progress = {"phase": "error", "fraction": 1.0}
                break
        except (EOFError, OSError, BrokenPipeError):
            healthy = False
            with self._lock:
                if job.cancel_requested:
                    job.state = "cancelled"
                    job.progress = {"phase": "cancelled", "fraction": 0.0}
                else:
                    job.state = "error"
                    job.error = "the solver's process ended unexpectedly (out of memory?)"
        finally:
            with self._lock:
                job.finished = time.monotonic()
                job.worker = None
        if healthy and not self._closed:
            with self._lock:
                self._idle.append(worker)
        else:
            worker.stop()
            # A fresh worker for the next job, started now rather than when it comes.
            if not self._closed:
                fresh = _Worker(self._context)
                with self._lock:
                    self._idle.append(fresh)
