"""The blocked route for wide Euclidean data against the exact slow route.

``metric="minkowski", p=2`` measures every pair with the same Euclidean distance (one
summation order) and builds the tree by dense Prim, so its results are the exact ones; the
blocked route, which decides most comparisons from norms and dot products, must give them
bit for bit, on one processor and on all of them, ties in the data included. Cluster
numbers follow the orientation of the tree's edges, which differs between routes when
ties make the tree non-unique, so clusters are matched one to one first.
"""

import os

import numpy as np
import pytest
from reference import assert_same_partition
from sklearn.datasets import load_digits

from corvane import HDBSCAN


def on_processors(count, fit):
    every = os.sched_getaffinity(0)
    os.sched_setaffinity(0, set(sorted(every)[:count]))
    try:
        return fit()
    finally:
        os.sched_setaffinity(0, every)


def assert_bitwise_equal(model, expected):
    mapping = assert_same_partition(model.labels_, expected.labels_)
    matched = [mapping[k] for k in range(len(model.cluster_persistence_))]
    persistence = expected.cluster_persistence_[matched]
    assert model.cluster_persistence_.tobytes() == persistence.tobytes()
    assert model.probabilities_.tobytes() == expected.probabilities_.tobytes()
    assert model.outlier_scores_.tobytes() == expected.outlier_scores_.tobytes()


def integer_grid(rng, n, d):
    return rng.integers(0, 4, size=(n, d)).astype(np.float64)


def duplicated_rows(rng, n, d):
    base = rng.normal(size=(n // 3, d))
    rows = np.vstack([base, base, base, base[: n - 3 * len(base)]])
    return rows[rng.permutation(n)]


def offset_blobs(rng, n, d):
    """Tight blobs far from the origin: dot products cancel in all but the last digits."""
    centres = rng.normal(size=(5, d)) * 3.0
    points = centres[rng.integers(0, 5, n)] + rng.normal(size=(n, d)) * 0.3
    return points + 1e7


def near_duplicates(rng, n, d):
    """Pairs of rows one unit in the last place apart, and exact copies."""
    base = rng.normal(size=(n // 2, d))
    return np.vstack([base, np.nextafter(base, np.inf)])[rng.permutation(n)]


DATA = [
    ("integer grid", integer_grid, 1500, 20, {"min_cluster_size": 8, "min_samples": 4}),
    ("duplicated rows", duplicated_rows, 900, 40, {"min_cluster_size": 10, "min_samples": 3}),
    ("offset blobs", offset_blobs, 1200, 24, {"min_cluster_size": 15}),
    ("near duplicates", near_duplicates, 800, 33, {"min_cluster_size": 5, "min_samples": 2}),
    ("integer grid, alpha", integer_grid, 700, 18, {"min_cluster_size": 6, "alpha": 0.7}),
    ("wide", offset_blobs, 300, 600, {"min_cluster_size": 10}),
]


@pytest.mark.parametrize(("name", "maker", "n", "d", "params"), DATA, ids=[c[0] for c in DATA])
def test_blocked_route_gives_the_exact_results(name, maker, n, d, params):
    data = maker(np.random.default_rng(n + d), n, d)
    exact = HDBSCAN(metric="minkowski", p=2, **params).fit(data)
    for processors in (1, 2):
        model = on_processors(processors, lambda: HDBSCAN(**params).fit(data))
        assert_bitwise_equal(model, exact)
    new = maker(np.random.default_rng(7), 100, d)
    labels, probabilities = model.approximate_predict(new)
    expected_labels, expected_probabilities = exact.approximate_predict(new)
    mapping = assert_same_partition(model.labels_, exact.labels_)
    assert [mapping.get(k, k) for k in labels] == expected_labels.tolist()
    assert probabilities.tobytes() == expected_probabilities.tobytes()


def test_digits_give_the_same_clusters_under_both_spellings_of_the_metric():
    digits = load_digits().data
    exact = HDBSCAN(min_cluster_size=15, metric="minkowski", p=2).fit(digits)
    model = HDBSCAN(min_cluster_size=15).fit(digits)
    assert_bitwise_equal(model, exact)
    assert model.labels_.max() >= 1
