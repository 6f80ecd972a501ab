"""All-points k-nearest-neighbour query (k = 5, query set = indexed set) of corvane's trees
against SciPy's cKDTree, tree builds included, measured in the same run.

Build the C++ program first:
    cmake -S . -B build/benchmarks -G Ninja -DCORVANE_BUILD_BENCHMARKS=ON
    cmake --build build/benchmarks
then run:
    python benchmarks/knn_vs_scipy.py [--exe build/benchmarks/knn_bench] [--repeats 3]

Prints, per data set, the best time of each side and the ratio corvane / SciPy (below 1.0:
corvane is faster), and checks that both find the same 5th-neighbour distances.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from bench_data import make_blobs, write_matrix
from scipy.spatial import cKDTree

K = 5
CASES = [  # rows, columns, corvane tree
    (1_000_000, 2, "kd"),
    (200_000, 10, "kd"),
    (50_000, 50, "ball"),
]


def time_scipy(data: np.ndarray) -> tuple[float, np.ndarray]:
    start = time.perf_counter()
    distances, _ = cKDTree(data).query(data, k=K, workers=-1)
    return time.perf_counter() - start, distances[:, K - 1]


def time_corvane(exe: str, data_path: str, tree: str, workdir: str):
    core_path = os.path.join(workdir, "core.bin")
    out = subprocess.run(
        [exe, data_path, tree, str(K), "1", core_path],
        check=True,
        capture_output=True,
        text=True,
    ).stdout.split()
    fields = dict(zip(out[::2], out[1::2]))
    core = np.fromfile(core_path, dtype="<f8")
    return float(fields["seconds"]), float(fields["build"]), int(fields["threads"]), core


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join("build", "benchmarks", "knn_bench"))
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    if not os.path.exists(args.exe):
        print(f"missing {args.exe}; build it first (see the module docstring)", file=sys.stderr)
        return 1

    print(
        f"{'rows':>9} {'cols':>4} {'tree':>4} {'scipy s':>8} {'corvane s':>9} "
        f"{'(build)':>8} {'ratio':>6}  5th-nn check"
    )
    with tempfile.TemporaryDirectory() as workdir:
        for seed, (rows, cols, tree) in enumerate(CASES):
            data = make_blobs(rows, cols, seed)
            data_path = os.path.join(workdir, "data.bin")
            write_matrix(data_path, data)
            # The two sides alternate so that a busy machine slows both alike.
            scipy_s = ours_s = build_s = float("inf")
            for _ in range(args.repeats):
                seconds, scipy_kth = time_scipy(data)
                scipy_s = min(scipy_s, seconds)
                seconds, build, threads, core = time_corvane(args.exe, data_path, tree, workdir)
                if seconds < ours_s:
                    ours_s, build_s = seconds, build
            worst = float(np.max(np.abs(core - scipy_kth)))
            check = "same" if worst <= 1e-9 * max(1.0, float(scipy_kth.max())) else f"DIFF {worst}"
            print(
                f"{rows:>9} {cols:>4} {tree:>4} {scipy_s:>8.3f} {ours_s:>9.3f} "
                f"{build_s:>8.3f} {ours_s / scipy_s:>6.2f}  {check}"
            )
    print(f"threads: corvane {threads}, SciPy workers=-1; best of {args.repeats} runs each")
    return 0


if __name__ == "__main__":
    sys.exit(main())
