"""What soft clustering costs next to the fit and to approximate_predict.

Fits corvane on 20 Gaussian blobs with 5% uniform noise, then prints, measured in the
same run:
- all_points_membership_vectors() (dense, and with top_k=3) as a share of the fit;
- membership_vectors and approximate_outlier_scores of new points drawn from the same
  distribution, as multiples of approximate_predict of the same points.

    python benchmarks/soft_clustering.py            # 1 000 000 x 2, 100 000 new points
    python benchmarks/soft_clustering.py --quick    # 100 000 x 2, 10 000 new points

Each call is timed three times and its fastest run kept; the index that prediction
builds over the training points is built before the timings.
"""

import argparse
import time

import numpy as np
from bench_data import fastest

import corvane


def make_data(n, seed):
    """20 blobs of varied spread with 5% uniform noise."""
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-100.0, 100.0, size=(20, 2))
    scales = rng.uniform(1.0, 4.0, size=20)
    n_noise = n // 20
    which = rng.integers(0, 20, n - n_noise)
    points = centres[which] + rng.normal(size=(n - n_noise, 2)) * scales[which, None]
    noise = rng.uniform(-110.0, 110.0, size=(n_noise, 2))
    return np.vstack([points, noise])[rng.permutation(n)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="100 000 x 2, 10 000 new points")
    args = parser.parse_args()
    n, new = (100_000, 10_000) if args.quick else (1_000_000, 100_000)

    data = make_data(n, seed=0)
    points = make_data(new, seed=1)
    model = corvane.HDBSCAN(min_cluster_size=n // 200, min_samples=10)
    start = time.perf_counter()
    model.fit(data)
    fit = time.perf_counter() - start
    clusters = int(model.labels_.max()) + 1
    print(f"corvane {corvane.__file__}")
    print(f"{n} x 2, {model!r}\nfit {fit:.3f} s, {clusters} clusters")

    print(f"\n{'training points':<38} {'seconds':>9} {'of fit':>8}")
    for name, call in [
        ("all_points_membership_vectors()", model.all_points_membership_vectors),
        ("all_points_membership_vectors(top_k=3)", lambda: model.all_points_membership_vectors(3)),
    ]:
        seconds = fastest(call)
        print(f"{name:<38} {seconds:>9.3f} {seconds / fit:>8.2f}", flush=True)

    model.approximate_predict(points)  # builds the training index
    predict = fastest(lambda: model.approximate_predict(points))
    print(f"\n{new} new points{'':<22} {'seconds':>9} {'of predict':>10}")
    print(f"{'approximate_predict':<38} {predict:>9.3f} {1.0:>10.2f}")
    for name, call in [
        ("membership_vectors", lambda: model.membership_vectors(points)),
        ("membership_vectors(top_k=3)", lambda: model.membership_vectors(points, top_k=3)),
        ("approximate_outlier_scores", lambda: model.approximate_outlier_scores(points)),
    ]:
        seconds = fastest(call)
        print(f"{name:<38} {seconds:>9.3f} {seconds / predict:>10.2f}", flush=True)


if __name__ == "__main__":
    main()
