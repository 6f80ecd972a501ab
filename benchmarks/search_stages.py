"""The searches before the hierarchy on standard-normal data in 2 to 8 columns, against
SciPy's all-kNN query of the same data in the same run.

    python benchmarks/search_stages.py               # 250 000 x 2 and x 5
    python benchmarks/search_stages.py --n 1000000 --dims 2

For each case, the best of three: the whole fit over cKDTree(X).query(X, k=10,
workers=-1), and with a build that has CORVANE_STAGE_TIMINGS=ON the core distances (tree
build and kNN) and the spanning tree over the same query, each on every processor and on
one (their ratio is the speed-up of the stage, as for the hierarchy built after them), and
the peak resident memory of those two stages above the process before the fit, in bytes
per point. min_samples = min_cluster_size = 10.
"""

import argparse
import os

import numpy as np
from bench_data import fastest

K = 10


def one_processor(call):
    every_cpu = os.sched_getaffinity(0)
    os.sched_setaffinity(0, {min(every_cpu)})
    try:
        return call()
    finally:
        os.sched_setaffinity(0, every_cpu)


def best_fit(data):
    """The fastest of three fits: (seconds, stage seconds of that fit or None)."""
    import time

    import corvane

    best = (float("inf"), None)
    for _ in range(3):
        model = corvane.HDBSCAN(min_cluster_size=K, min_samples=K)
        start = time.perf_counter()
        model.fit(data)
        seconds = time.perf_counter() - start
        if seconds < best[0]:
            best = (seconds, getattr(model, "_stage_seconds_", None))
    return best


def stage_peaks(data):
    """Peak resident bytes of each stage of one fit above the process before it (benchmark
    builds), or None."""
    from run import measured_fit

    import corvane

    result = measured_fit(corvane.HDBSCAN(min_cluster_size=K, min_samples=K), data)
    return result["stage_peaks"] or None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--n", type=int, default=250_000)
    parser.add_argument("--dims", type=int, nargs="+", default=[2, 5])
    args = parser.parse_args()
    from scipy.spatial import cKDTree

    print(f"load {open('/proc/loadavg').read().split()[:3]}")
    print(
        f"{'n':>9} {'d':>2} {'fit/knn':>8} {'core/knn':>9} {'mst/knn':>8}"
        f" {'core 1/2':>9} {'mst 1/2':>8} {'hier 1/2':>8} {'fit 1/2':>8} {'core B/pt':>9}"
        f" {'mst B/pt':>8}"
    )
    for d in args.dims:
        data = np.random.default_rng(0).standard_normal((args.n, d))
        knn = fastest(lambda data=data: cKDTree(data).query(data, k=K, workers=-1))
        fit, stages = best_fit(data)
        fit_one, stages_one = one_processor(lambda data=data: best_fit(data))
        row = f"{args.n:>9} {d:>2} {fit / knn:>8.2f}"
        if stages:
            core, mst = stages["core_distances"], stages["spanning_tree"]
            core_one, mst_one = stages_one["core_distances"], stages_one["spanning_tree"]
            row += f" {core / knn:>9.2f} {mst / knn:>8.2f}"
            hierarchy_ratio = stages_one["hierarchy"] / stages["hierarchy"]
            row += f" {core_one / core:>9.2f} {mst_one / mst:>8.2f} {hierarchy_ratio:>8.2f}"
        else:
            row += f" {'-':>9} {'-':>8} {'-':>9} {'-':>8} {'-':>8}"
        row += f" {fit_one / fit:>8.2f}"
        peaks = stage_peaks(data)
        if peaks:
            row += (
                f" {peaks['core_distances'] / args.n:>9.0f} {peaks['spanning_tree'] / args.n:>8.0f}"
            )
        print(row)


if __name__ == "__main__":
    main()
