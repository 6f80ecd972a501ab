"""What reading the fitted hierarchy costs next to the fit that built it.

Fits corvane on clustering-like data, then times every export of the fitted model (the
trees as arrays, exemplars, a DBSCAN* cut, centroids, medoids) and prints each as a share
of the fit's own time, measured in the same run:

    python benchmarks/exports.py                    # 1 000 000 x 2 (about a minute)
    python benchmarks/exports.py --quick            # 100 000 x 2
    python benchmarks/exports.py --shape 200000 10  # any size

Each export is timed three times and its fastest run kept. The model is unchanged by the
exports, which read what it keeps; with a build that has CORVANE_STAGE_TIMINGS=ON the
model's size at rest beyond its training data is printed too.
"""

import argparse
import time

import numpy as np
from bench_data import fastest, make_blobs

import corvane

BUDGET = 0.10  # of the fit's time, for each export


def exports(model):
    """Name and call of every export."""
    cut = float(np.median(model.core_distances_))
    return [
        ("condensed_tree_", lambda: model.condensed_tree_),
        ("single_linkage_tree_", lambda: model.single_linkage_tree_),
        ("minimum_spanning_tree_", lambda: model.minimum_spanning_tree_),
        ("core_distances_", lambda: model.core_distances_),
        ("exemplars_", lambda: model.exemplars_),
        ("dbscan_clustering", lambda: model.dbscan_clustering(cut)),
        ("cluster_centroids()", model.cluster_centroids),
        ("cluster_medoids()", model.cluster_medoids),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="100 000 x 2")
    parser.add_argument("--shape", type=int, nargs=2, metavar=("N", "D"))
    parser.add_argument("--min-cluster-size", type=int, default=5)
    parser.add_argument("--min-samples", type=int, default=5)
    args = parser.parse_args()
    n, d = args.shape or ((100_000, 2) if args.quick else (1_000_000, 2))

    data = make_blobs(n, d)
    model = corvane.HDBSCAN(min_cluster_size=args.min_cluster_size, min_samples=args.min_samples)
    start = time.perf_counter()
    model.fit(data)
    fit = time.perf_counter() - start
    sizes = np.bincount(model.labels_[model.labels_ >= 0])
    print(f"corvane {corvane.__file__}")
    print(
        f"{n} x {d}, {model!r}\nfit {fit:.3f} s, {len(sizes)} clusters "
        f"(largest {sizes.max() if len(sizes) else 0} points)"
    )
    parts = getattr(model, "_model_bytes_", None)
    if parts:
        beyond = sum(parts.values()) - parts["training_data"]
        print(f"model at rest beyond its training data: {beyond / n:.1f} bytes per point")
    print(f"\n{'export':<24} {'seconds':>9} {'of fit':>8}")
    for name, call in exports(model):
        seconds = fastest(call)
        share = seconds / fit
        flag = "" if share <= BUDGET else f"  (over {BUDGET:.0%})"
        print(f"{name:<24} {seconds:>9.4f} {share:>8.1%}{flag}", flush=True)


if __name__ == "__main__":
    main()
