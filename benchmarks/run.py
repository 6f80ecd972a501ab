"""Benchmark table of corvane's fit against SciPy's all-kNN query on the same data.

Imports the installed corvane and builds nothing. Each case runs in a fresh
process, so the peak resident memory it reports belongs to that fit alone:

    python benchmarks/run.py            # every case (several minutes)
    python benchmarks/run.py --quick    # small cases, under a minute

Columns: corvane fit time, SciPy's cKDTree(X).query(X, k=min_samples,
workers=-1) time (the floor any exact HDBSCAN pays for core distances), their
ratio, the fit's peak resident memory above the process before the fit (also
per point), what the fitted model holds at rest beyond its training data, per
point (in brackets the part that is the hierarchy: spanning tree, condensed
tree, selection), and the share of the fit spent in core distances, the
spanning tree and the hierarchy, with the share of the hierarchy's largest step
(single linkage, condensed tree, selection, labels, probabilities or outlier
scores) in brackets. Model sizes and stage shares need a build with the CMake
option CORVANE_STAGE_TIMINGS=ON
(pip install . -C cmake.define.CORVANE_STAGE_TIMINGS=ON); otherwise they show
as "-".
"""

import argparse
import json
import math
import subprocess
import sys
import time

import numpy as np
from bench_data import make_blobs
from process_memory import reset_peak_rss, status_bytes

MIN_SAMPLES = 5

# (name, n, d, metric)
FULL_CASES = [
    ("blobs", 10_000, 2, "euclidean"),
    ("blobs", 100_000, 2, "euclidean"),
    ("blobs", 1_000_000, 2, "euclidean"),
    ("blobs", 200_000, 10, "euclidean"),
    ("blobs", 50_000, 50, "euclidean"),
    ("blobs", 20_000, 3, "manhattan"),
    ("blobs", 20_000, 3, "cosine"),
    ("precomputed", 5_000, 5_000, "precomputed"),
]
QUICK_CASES = [
    ("blobs", 10_000, 2, "euclidean"),
    ("blobs", 100_000, 2, "euclidean"),
    ("blobs", 20_000, 10, "euclidean"),
    ("blobs", 5_000, 3, "manhattan"),
    ("precomputed", 2_000, 2_000, "precomputed"),
]
SCALING_SIZES = {10_000, 100_000, 1_000_000}


def run_case(name, n, d, metric):
    """Runs one case in this process; returns its measurements."""
    from scipy.spatial import cKDTree

    import corvane

    if name == "precomputed":
        points = make_blobs(n, 2)
        from scipy.spatial.distance import cdist

        data = cdist(points, points)
        knn_input = points
    else:
        data = make_blobs(n, d)
        knn_input = data
    model = corvane.HDBSCAN(min_cluster_size=MIN_SAMPLES, min_samples=MIN_SAMPLES, metric=metric)

    reset_peak_rss()
    before = status_bytes("VmRSS")
    start = time.perf_counter()
    model.fit(data)
    fit_seconds = time.perf_counter() - start
    peak = status_bytes("VmHWM") - before

    start = time.perf_counter()
    cKDTree(knn_input).query(knn_input, k=MIN_SAMPLES, workers=-1)
    knn_seconds = time.perf_counter() - start

    return {
        "fit": fit_seconds,
        "knn": knn_seconds,
        "peak": peak,
        "clusters": int(model.labels_.max()) + 1,
        "stages": getattr(model, "_stage_seconds_", None),
        "model_bytes": getattr(model, "_model_bytes_", None),
    }


def measure(case):
    output = subprocess.run(
        [sys.executable, __file__, "--case", json.dumps(case)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return json.loads(output.strip().splitlines()[-1])


HIERARCHY_STEPS = (
    "single_linkage",
    "condensed_tree",
    "selection",
    "labels",
    "probabilities",
    "outlier_scores",
)


def format_model_bytes(parts, n):
    """Bytes per point the model holds beyond its training data (the hierarchy's share)."""
    if not parts:
        return "-"
    beyond = sum(parts.values()) - parts["training_data"]
    return f"{beyond / n:.1f} ({parts['hierarchy'] / n:.1f})"


def format_stages(stages, total):
    """Shares of core distances, spanning tree and hierarchy, and the largest hierarchy step."""
    if not stages:
        return "-"
    parts = [
        stages.get(key, 0.0) / total for key in ("core_distances", "spanning_tree", "hierarchy")
    ]
    largest = max(stages.get(step, 0.0) for step in HIERARCHY_STEPS) / total
    return " / ".join(f"{100 * share:3.0f}%" for share in parts) + f" ({100 * largest:2.0f}%)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small cases, under a minute")
    parser.add_argument("--case", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.case:
        print(json.dumps(run_case(*json.loads(args.case))))
        return

    import corvane

    cases = QUICK_CASES if args.quick else FULL_CASES
    print(f"corvane {corvane.__file__}")
    header = (
        f"{'data':<12} {'n':>9} {'d':>5} {'metric':<11} {'fit s':>8} {'kNN s':>8} "
        f"{'fit/kNN':>8} {'peak MB':>8} {'B/point':>8} {'model B/pt':>12} "
        f"{'core / tree / hierarchy (step)':>31}"
    )
    print(header)
    print("-" * len(header))
    timings = {}
    for case in cases:
        name, n, d, metric = case
        result = measure(case)
        timings[(name, n, d, metric)] = result["fit"]
        print(
            f"{name:<12} {n:>9} {d:>5} {metric:<11} {result['fit']:>8.3f} "
            f"{result['knn']:>8.3f} {result['fit'] / result['knn']:>8.2f} "
            f"{result['peak'] / 2**20:>8.1f} {result['peak'] / n:>8.0f} "
            f"{format_model_bytes(result['model_bytes'], n):>12} "
            f"{format_stages(result['stages'], result['fit']):>31}",
            flush=True,
        )

    sizes = sorted(
        (n, seconds)
        for (name, n, d, metric), seconds in timings.items()
        if name == "blobs" and d == 2 and metric == "euclidean" and n in SCALING_SIZES
    )
    if len(sizes) >= 2:
        x = np.log([n for n, _ in sizes])
        y = np.log([seconds for _, seconds in sizes])
        exponent = np.polyfit(x, y, 1)[0]
        nlogn = np.polyfit(x, np.log([n * math.log(n) for n, _ in sizes]), 1)[0]
        print(
            f"\nscaling, 2-column blobs at n = {', '.join(str(n) for n, _ in sizes)}: "
            f"time ~ n^{exponent:.2f} (n log n over this range fits n^{nlogn:.2f})"
        )


if __name__ == "__main__":
    main()
