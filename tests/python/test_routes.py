"""Every route of the minimum spanning tree stage gives the results of a dense reference.

Each case sits on one side of a route threshold (rows per column count, the tree
switches, alpha exactly 1, very wide data); the reference builds the dense
mutual-reachability matrix with SciPy and clusters it as a precomputed matrix.
"""

import numpy as np
import pytest
from reference import assert_same_results, blobs, reference_fit

from corvane import HDBSCAN

EUCLIDEAN_CASES = [
    # (rows, columns, alpha): the route each one takes
    (500, 4, 1.0),  # Prim on rows, KD-tree core distances
    (501, 4, 1.0),  # Boruvka over the KD-tree
    (501, 1, 0.7),  # Boruvka, one column, plain weights
    (4000, 5, 1.0),  # Prim, KD-tree core distances
    (4001, 5, 1.0),  # Boruvka over the KD-tree
    (4001, 16, 0.7),  # Boruvka over the KD-tree, widest
    (1500, 10, 0.5),  # Prim, KD-tree core distances, plain weights
    (1500, 11, 1.0),  # Prim, ball tree core distances
    (300, 16, 0.5),  # Prim, ball tree core distances, plain weights
    (300, 17, 0.5),  # blocked, plain weights
    (2000, 64, 1.0),  # blocked
    (2001, 65, 1.0),  # blocked
    (100, 600, 0.5),  # blocked, one block
    (130, 600, 1.0),  # blocked, two blocks
]


@pytest.mark.parametrize(("n", "d", "alpha"), EUCLIDEAN_CASES)
def test_euclidean_routes_match_the_dense_reference(n, d, alpha):
    data = blobs(n, d, seed=n + d)
    params = {"min_cluster_size": 8, "min_samples": 5, "alpha": alpha}
    model = HDBSCAN(**params).fit(data)
    assert_same_results(model, reference_fit(data, **params))


@pytest.mark.slow
@pytest.mark.parametrize("n", [8000, 8001])
def test_blocked_route_at_17_columns(n):
    data = blobs(n, 17, seed=3)
    model = HDBSCAN(min_cluster_size=15, min_samples=5).fit(data)
    assert_same_results(model, reference_fit(data, min_cluster_size=15, min_samples=5))


@pytest.mark.parametrize(
    ("metric", "p"),
    [
        ("manhattan", None),
        ("cityblock", None),
        ("l1", None),
        ("cosine", None),
        ("minkowski", None),
        ("minkowski", 1.0),
        ("minkowski", 3.0),
        ("minkowski", np.inf),
        ("minkowski", 1.5),
    ],
)
@pytest.mark.parametrize("alpha", [1.0, 0.8])
def test_other_metrics_match_the_dense_reference(metric, p, alpha):
    data = blobs(700, 3, seed=11)
    params = {"min_cluster_size": 10, "min_samples": 4, "alpha": alpha}
    model = HDBSCAN(metric=metric, p=p, **params).fit(data)
    assert_same_results(model, reference_fit(data, metric=metric, p=p, **params))


@pytest.mark.parametrize(
    "selection",
    [
        {"cluster_selection_method": "leaf"},
        {"allow_single_cluster": True},
        {"cluster_selection_epsilon": 3.0},
        {"cluster_selection_method": "leaf", "cluster_selection_epsilon": 2.0},
    ],
)
def test_selection_parameters_on_a_boruvka_route(selection):
    data = blobs(1200, 2, seed=5)
    model = HDBSCAN(min_cluster_size=12, **selection).fit(data)
    assert_same_results(model, reference_fit(data, min_cluster_size=12, **selection))


def test_precomputed_matches_the_same_distances_computed():
    data = blobs(400, 3, seed=2)
    distances = np.sqrt(((data[:, None, :] - data[None, :, :]) ** 2).sum(-1))
    computed = HDBSCAN(min_cluster_size=6).fit(data)
    precomputed = HDBSCAN(min_cluster_size=6, metric="precomputed").fit(distances)
    assert_same_results(computed, precomputed)


@pytest.mark.parametrize("n", [100, 3000])
def test_zero_columns_every_distance_is_zero(n):
    model = HDBSCAN(min_cluster_size=5).fit(np.empty((n, 0)))
    assert model.n_features_in_ == 0
    assert np.array_equal(model.labels_, np.full(n, -1))
    assert np.array_equal(model.probabilities_, np.zeros(n))
    assert np.array_equal(model.outlier_scores_, np.zeros(n))
    for metric in ("manhattan", "cosine", "minkowski"):
        assert np.array_equal(HDBSCAN(metric=metric).fit_predict(np.empty((n, 0))), np.full(n, -1))
