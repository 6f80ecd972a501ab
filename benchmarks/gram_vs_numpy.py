"""Gram matrix kernel of the Euclidean Prim route against NumPy's ``X @ X.T``.

Runs the C++ benchmark program ``gram_kernel`` (build it with
``cmake -S . -B build/bench -G Ninja -DCORVANE_BUILD_BENCHMARKS=ON && cmake --build build/bench``)
and times NumPy on the same shapes in the same run, once with one thread on both
sides and once with every available thread. Prints GFLOP/s (2 n^2 d per
product; both sides exploit symmetry) and the ratio corvane / NumPy.

Usage: python benchmarks/gram_vs_numpy.py [path/to/gram_kernel]
"""

import os
import subprocess
import sys
import time

SHAPES = [(4000, 17), (4000, 64), (6000, 32), (8000, 17), (8000, 32), (8000, 64)]
REPEATS = 3

NUMPY_TIMER = """
import sys, time
import numpy as np
rng = np.random.default_rng(1)
for shape in sys.argv[1:]:
    n, d = map(int, shape.split(":"))
    x = rng.standard_normal((n, d))
    best = float("inf")
    for _ in range({repeats}):
        start = time.perf_counter()
        g = x @ x.T
        best = min(best, time.perf_counter() - start)
        del g
    print(n, d, best)
"""


def numpy_seconds(threads):
    env = dict(os.environ)
    if threads == 1:
        for name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
            env[name] = "1"
    args = [f"{n}:{d}" for n, d in SHAPES]
    code = NUMPY_TIMER.format(repeats=REPEATS)
    out = subprocess.run(
        [sys.executable, "-c", code, *args], env=env, check=True, capture_output=True, text=True
    ).stdout
    return {(int(n), int(d)): float(t) for n, d, t in (line.split() for line in out.splitlines())}


def corvane_seconds(binary, threads):
    args = [f"{n}:{d}" for n, d in SHAPES]
    out = subprocess.run(
        [binary, str(threads), *args], check=True, capture_output=True, text=True
    ).stdout
    result = {}
    for line in out.splitlines():
        n, d, _, seconds, _ = line.split()
        result[(int(n), int(d))] = float(seconds)
    return result


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/bench/gram_kernel"
    processors = len(os.sched_getaffinity(0))
    start = time.perf_counter()
    print(f"{'threads':>7} {'n':>5} {'d':>3} {'corvane GF/s':>12} {'numpy GF/s':>10} {'ratio':>6}")
    for threads in sorted({1, processors}):
        ours = corvane_seconds(binary, threads)
        theirs = numpy_seconds(threads)
        for n, d in SHAPES:
            flops = 2.0 * n * n * d
            a = flops / ours[(n, d)] / 1e9
            b = flops / theirs[(n, d)] / 1e9
            print(f"{threads:>7} {n:>5} {d:>3} {a:>12.1f} {b:>10.1f} {a / b:>6.2f}")
    print(f"(ratio = corvane / numpy, higher is better; {time.perf_counter() - start:.0f} s)")


if __name__ == "__main__":
    main()
