"""Sweep benchmark: 40 superconducting microstrip widths (nd 2,482 each) through qbr.sweep
on several executors, against the sum of the single-thread solve times, against running
the program once per width, and the cost of the Python call around a solve.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/sweep_bench.py [--points 40]
        [--repeat 3] [--program build/qbr] [--no-program-wait-runs]

Every figure is a median of --repeat rounds, measured in this one run, so that the
ratios compare like with like on a shared machine. Prints markdown tables.
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
    """The README's microstrip with the strip width changed: nd 2,482 at every width."""
    m = qbr.Model(cc=f"microstrip {width:.4g} um", frequency=10, frequency_unit="ghz",
                  lambda_=0.09, ah=0.02)
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
                        help="program runs with the closing wait (default: --points, once)")
    args = parser.parse_args()
    widths = list(np.linspace(1.0, 8.0, args.points))
    cores = os.cpu_count()
    print(f"qbr {qbr.__version__}, {args.points} widths, nd {microstrip(1.0).solve(grid_check=False).nd}, "
          f"{cores} cores, load average {os.getloadavg()[0]:.1f}", flush=True)

    # Single-thread solves one after the other; the Python call's wall time against the
    # library's own total of each.
    single, overhead = [], []
    for _ in range(args.repeat):
        total = 0.0
        for w in widths:
            model = microstrip(w)
            start = time.perf_counter()
            result = model.solve(threads=1)
            wall = time.perf_counter() - start
            total += wall
            overhead.append(wall / result.phase_times_s["total"] - 1)
        single.append(total)
    s1 = statistics.median(single)
    print(f"sum of single-thread solves: {s1:.2f} s (rounds {', '.join(f'{t:.2f}' for t in single)})",
          flush=True)

    forkserver = multiprocessing.get_context("forkserver")
    modes = {
        "loop, 2 threads per solve": (lambda: InThread(), cores),
        "threads x2, 1 thread per solve": (lambda: cf.ThreadPoolExecutor(cores), 1),
        "threads x2, 2 threads per solve": (lambda: cf.ThreadPoolExecutor(cores), cores),
        "processes x2, 1 thread per solve": (
            lambda: cf.ProcessPoolExecutor(cores, mp_context=forkserver), 1),
    }
    rows = []
    for name, (make, threads) in modes.items():
        times = []
        for _ in range(args.repeat):
            executor = make()
            # Process start-up is part of the sweep's time.
            times.append(timed(lambda: qbr.sweep(microstrip, width=widths, executor=executor,
                                                 threads=threads, progress=False)))
            executor.shutdown()
        rows.append((name, statistics.median(times), times))
        print(f"{name}: {statistics.median(times):.2f} s", flush=True)

    # The program once per width, as users ran it (closing wait) and without the wait.
    program = []
    with tempfile.TemporaryDirectory() as work:
        for w_index, w in enumerate(widths):
            with open(os.path.join(work, f"w{w_index}.txt"), "w") as f:
                f.write(input_text(w))

        def run(count: int, options: list[str]) -> float:
            return timed(lambda: [subprocess.run([args.program, *options, f"w{k}.txt"], cwd=work,
                                                 stdout=subprocess.DEVNULL, check=True)
                                  for k in range(count)])

        no_wait = statistics.median(run(args.points, ["--no-wait"]) for _ in range(args.repeat))
        program.append(("program, --no-wait", no_wait))
        print(f"program x{args.points} --no-wait: {no_wait:.2f} s", flush=True)
        count = args.wait_runs or args.points
        waited = run(count, []) * args.points / count
        program.append(("program, with its closing wait", waited))
        print(f"program x{args.points} with the wait: {waited:.2f} s", flush=True)

    best = min(t for _, t, _ in rows)
    print("\n| how | wall time (s) | / sum of single-thread solves | program / this |")
    print("|---|---:|---:|---:|")
    print(f"| sum of {args.points} single-thread solves | {s1:.2f} | 1.00 | |")
    for name, t, times in rows:
        print(f"| qbr.sweep, {name} | {t:.2f} | {t / s1:.2f} | {program[1][1] / t:.1f} |")
    for name, t in program:
        print(f"| {name}, {args.points} runs | {t:.2f} | {t / s1:.2f} | |")
    print(f"\nPython call around a single-thread solve at this nd: median "
          f"{100 * statistics.median(overhead):.2f} % over the library's own time "
          f"(max {100 * max(overhead):.2f} %); best sweep {best:.2f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
