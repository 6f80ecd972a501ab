"""How promptly a fit or prediction notices Ctrl-C: the longest stretch of a call
without a check for signals, against the length of the call.

A timer's signal handler runs every 2 ms of the call, whenever the call checks for
signals; the longest gap between two runs (or between the call's start or end and the
nearest run) is the longest a Ctrl-C could wait. It should stay under half a second at
any size; the printed share shows where it does not grow with the call.

    python benchmarks/interrupt_latency.py [--points 4000000]
"""

import argparse
import signal
import time

import numpy as np
from bench_data import make_blobs

import corvane


def longest_gap(call, *args):
    """Seconds of call(*args), and the longest stretch in it without a signal check."""
    stamps = []
    signal.signal(signal.SIGALRM, lambda *_: stamps.append(time.perf_counter()))
    signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
    start = time.perf_counter()
    try:
        call(*args)
    finally:
        end = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
    return end - start, float(np.diff([start, *stamps, end]).max())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", type=int, default=4_000_000)
    n = parser.parse_args().points
    low_d, high_d, dense = make_blobs(n, 2), make_blobs(n // 20, 20), make_blobs(20_000, 3)
    model = corvane.HDBSCAN().fit(make_blobs(n // 10, 2, seed=1))
    queries = make_blobs(n, 2, seed=2)
    cases = [
        ("kd-tree fit", lambda jobs: corvane.HDBSCAN(n_jobs=jobs).fit(low_d)),
        ("ball-tree fit", lambda jobs: corvane.HDBSCAN(n_jobs=jobs).fit(high_d)),
        ("dense manhattan fit", lambda jobs: corvane.HDBSCAN(metric="l1", n_jobs=jobs).fit(dense)),
        ("prediction", lambda jobs: model.set_params(n_jobs=jobs).approximate_predict(queries)),
    ]
    print(f"{n} points")
    print(f"{'case':22} {'n_jobs':>6} {'longest gap':>12} {'share of call':>14}")
    for name, run in cases:
        for jobs in (None, 1):
            seconds, gap = longest_gap(run, jobs)
            print(f"{name:22} {str(jobs):>6} {gap * 1000:9.0f} ms {gap / seconds:14.3f}")


if __name__ == "__main__":
    main()
