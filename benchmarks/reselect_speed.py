"""What a re-selection costs against the fit it re-selects: a fit of blobs, then
reselect() with new selection parameters on the fitted model, each timed in the same
process and printed as a share of the fit.

    python benchmarks/reselect_speed.py [--points 1000000] [--repeats 3]

Each reselect line is the best of its repeats, each alternating with a re-selection back
to the fitted parameters, so that a new min_cluster_size condenses again every time.
"""

import argparse
import time
from functools import partial

from bench_data import make_blobs

import corvane

MIN_SAMPLES = 5
FIT = {"min_cluster_size": 25, "min_samples": MIN_SAMPLES}

CHANGES = [
    ("min_cluster_size=50", {"min_cluster_size": 50}),
    ("min_cluster_size=200", {"min_cluster_size": 200}),
    ("min_cluster_size=10", {"min_cluster_size": 10}),
    ("cluster_selection_method='leaf'", {"cluster_selection_method": "leaf"}),
    ("max_cluster_size=20000", {"max_cluster_size": 20_000}),
    ("cluster_selection_epsilon=1.0", {"cluster_selection_epsilon": 1.0}),
]


def seconds(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=3)
    arguments = parser.parse_args()
    x = make_blobs(arguments.points, 2)
    fitted = {
        "min_cluster_size": FIT["min_cluster_size"],
        "cluster_selection_method": "eom",
        "max_cluster_size": None,
        "cluster_selection_epsilon": 0.0,
    }
    print(f"{arguments.points} x 2 blobs, min_samples {MIN_SAMPLES}, fitted at {FIT}")
    print(f"{'n_jobs':>6} {'change':34} {'share of the fit':>16}")
    for jobs in (1, None):
        model = corvane.HDBSCAN(**FIT, n_jobs=jobs)
        fit = min(seconds(partial(model.fit, x)) for _ in range(2))
        print(f"{str(jobs):>6} (the fit: {fit:.2f} s, for scale)")
        for name, change in CHANGES:
            best = float("inf")
            for _ in range(arguments.repeats):
                best = min(best, seconds(partial(model.reselect, **change)))
                model.reselect(**fitted)
            print(f"{str(jobs):>6} {name:34} {best / fit:16.3f}")


if __name__ == "__main__":
    main()
