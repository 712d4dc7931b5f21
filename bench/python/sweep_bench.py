"""Sweep benchmark: 40 superconducting microstrip widths (nd 2,482 each) through qbr.sweep
on several executors, against the sum of the single-thread solve times, against running
the program once per width, and the cost of the Python call around a solve.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/sweep_bench.py [--points 40]
        [--repeat 3] [--program build/qbr] [--wait-runs N]

Every way runs once per round, --repeat rounds; the figures are medians, and the ratios
are taken within each round, so that they compare like with like on a shared machine.
Prints a markdown table.
"""

from __future__ import annotations

import argparse
import concurrent.futures as cf
import multiprocessing
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import qbr


def microstrip(width: float) -> qbr.Model:
    """The README's microstrip with the strip width changed (its even grid, as the
    program reads the file): nd 2,482 at every width."""
    m = qbr.Model(cc=f"microstrip {width:.4g} um", frequency=10, frequency_unit="ghz",
                  lambda_=0.09, ah=0.02, grid="uniform")
    m.rect(-10, 10, -0.2, 0, 0, 0, 500, 10)
    return m.rect(-width / 2, width / 2, 0.2, 0.4, 1, 0, 100, 10)


def input_text(width: float) -> str:
    return "\n".join([
        f"cc microstrip {width:.4g} um", "lengthunit um", "frequency 10 ghz", "lambda 0.09",
        "ah 0.02", "rect -10 10 -0.2 0 0 0 500 10",
        f"rect {-width / 2!r} {width / 2!r} 0.2 0.4 1 0 100 10", ""])


class InThread(cf.Executor):
    """Runs every call at once in the caller's thread: a plain loop."""

    def submit(self, fn, /, *args, **kwargs):
        future = cf.Future()
        future.set_result(fn(*args, **kwargs))
        return future


def timed(fn) -> float:
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=40)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--program", default=os.path.join(os.path.dirname(__file__),
                                                          "../../build/qbr"))
    parser.add_argument("--wait-runs", type=int, default=None,
                        help="program runs with the closing wait, once at the end "
                             "(default: --points)")
    args = parser.parse_args()
    widths = list(np.linspace(1.0, 8.0, args.points))
    cores = os.cpu_count()
    print(f"qbr {qbr.__version__}, {args.points} widths, nd {microstrip(1.0).solve(grid_check=False).nd}, "
          f"{cores} cores, load average {os.getloadavg()[0]:.1f}", flush=True)

    forkserver = multiprocessing.get_context("forkserver")
    modes = {
        "loop, 2 threads per solve": (lambda: InThread(), cores),
        "threads x2, 1 thread per solve": (lambda: cf.ThreadPoolExecutor(cores), 1),
        "threads x2, 2 threads per solve": (lambda: cf.ThreadPoolExecutor(cores), cores),
        "processes x2, 1 thread per solve": (
            lambda: cf.ProcessPoolExecutor(cores, mp_context=forkserver), 1),
    }
    work = tempfile.mkdtemp()
    for k, w in enumerate(widths):
        with open(os.path.join(work, f"w{k}.txt"), "w") as f:
            f.write(input_text(w))

    def run_program(count: int, options: list[str]) -> float:
        return timed(lambda: [subprocess.run([args.program, *options, f"w{k}.txt"], cwd=work,
                                             stdout=subprocess.DEVNULL, check=True)
                              for k in range(count)])

    # Rounds: every way once per round, so that all see the same load from other jobs;
    # each way's figure is the median over the rounds of its ratio to the round's sum of
    # single-thread solves.
    single, overhead = [], []
    times: dict[str, list[float]] = {name: [] for name in modes}
    times["program, --no-wait"] = []
    for r in range(args.repeat):
        total = 0.0
        for w in widths:
            model = microstrip(w)
            start = time.perf_counter()
            result = model.solve(threads=1)
            wall = time.perf_counter() - start
            total += wall
            # The Python call around the library's own timing of the solve.
            overhead.append(wall / result.phase_times_s["total"] - 1)
        single.append(total)
        for name, (make, threads) in modes.items():
            executor = make()
            # Process start-up is part of the sweep's time.
            times[name].append(timed(lambda: qbr.sweep(microstrip, width=widths, executor=executor,
                                                       threads=threads, progress=False)))
            executor.shutdown()
        times["program, --no-wait"].append(run_program(args.points, ["--no-wait"]))
        print(f"round {r + 1}: single-thread sum {total:.2f} s, load {os.getloadavg()[0]:.1f}, "
              + ", ".join(f"{n} {t[-1]:.2f} s" for n, t in times.items()), flush=True)
    count = args.wait_runs or args.points
    waited = run_program(count, []) * args.points / count
    print(f"program x{args.points} with the wait: {waited:.2f} s", flush=True)

    s1 = statistics.median(single)
    ratio = {n: statistics.median(t / s for t, s in zip(ts, single)) for n, ts in times.items()}
    rows = [(n, statistics.median(ts), ratio[n]) for n, ts in times.items()]
    print("\n| how | wall time (s), median | / sum of single-thread solves, median | program with its wait / this |")
    print("|---|---:|---:|---:|")
    print(f"| sum of {args.points} single-thread solves | {s1:.2f} | 1.00 | {waited / s1:.1f} |")
    for name, t, q in rows:
        how = name if name.startswith("program") else f"qbr.sweep, {name}"
        print(f"| {how} | {t:.2f} | {q:.2f} | {waited / t:.1f} |")
    print(f"| program, with its closing wait | {waited:.2f} | {waited / s1:.2f} | 1.0 |")
    print(f"\nPython call around a single-thread solve at this nd: median "
          f"{100 * statistics.median(overhead):.3f} % over the library's own time "
          f"(max {100 * max(overhead):.3f} %, {len(overhead)} solves)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
