"""Slow, obviously right references for the tests: dense mutual reachability."""

import numpy as np
from scipy.spatial.distance import cdist

from corvane import HDBSCAN

# Every metric that measures coordinates, with its Minkowski exponent.
COORDINATE_METRICS = [
    ("euclidean", None),
    ("manhattan", None),
    ("cosine", None),
    ("minkowski", 3.0),
    ("minkowski", np.inf),
]


def blobs(n, d, seed, noise_share=0.05, spread=1.0):
    """Gaussian blobs of varied density plus uniform noise."""
    rng = np.random.default_rng(seed)
    n_noise = int(n * noise_share)
    n_blob = n - n_noise
    centres = rng.uniform(-20.0, 20.0, size=(4, d))
    scales = spread * np.array([0.5, 1.0, 1.5, 2.5])
    which = rng.integers(0, 4, n_blob)
    points = centres[which] + rng.normal(size=(n_blob, d)) * scales[which, None]
    noise = rng.uniform(-30.0, 30.0, size=(n_noise, d))
    data = np.vstack([points, noise])
    return data[rng.permutation(n)]


def pairwise(data, metric="euclidean", p=None):
    if metric == "precomputed":
        return np.asarray(data, dtype=np.float64)
    if metric in ("manhattan", "cityblock", "l1"):
        return cdist(data, data, "cityblock")
    if metric == "minkowski":
        p = 2.0 if p is None else p
        if np.isinf(p):
            return cdist(data, data, "chebyshev")
        return cdist(data, data, "minkowski", p=p)
    return cdist(data, data, metric)


def mutual_reachability(data, k, alpha=1.0, metric="euclidean", p=None):
    """The dense mutual-reachability matrix with core distances of k neighbours."""
    distances = pairwise(data, metric, p)
    core = np.partition(distances, k - 1, axis=1)[:, k - 1]
    scaled = distances if alpha == 1.0 else distances / alpha
    mr = np.maximum(np.maximum(core[:, None], core[None, :]), scaled)
    np.fill_diagonal(mr, 0.0)
    return mr


def reference_fit(
    data, min_cluster_size=5, min_samples=None, alpha=1.0, metric="euclidean", p=None, **selection
):
    """The hierarchy of the dense mutual-reachability MST, through a precomputed fit."""
    k = min_samples if min_samples is not None else min_cluster_size
    mr = mutual_reachability(data, k, alpha, metric, p)
    return HDBSCAN(
        min_cluster_size=min_cluster_size, min_samples=1, metric="precomputed", **selection
    ).fit(mr)


def assert_same_partition(labels, expected):
    """The same noise and the same clusters up to their numbers; returns the matching."""
    assert np.array_equal(labels == -1, expected == -1), "the same points are noise"
    pairs = set(zip(labels[labels >= 0].tolist(), expected[expected >= 0].tolist()))
    mapping = dict(pairs)
    assert len(mapping) == len(pairs) == len(set(mapping.values())), "clusters match one to one"
    return mapping


def assert_same_results(model, reference, rtol=1e-9):
    """Same clusters, probabilities, outlier scores and persistence.

    Cluster numbers follow the orientation of the tree's edges (which end a
    union keeps on a size tie), and routes orient equal trees differently, so
    the clusters are matched one to one before persistence is compared.
    """
    mapping = assert_same_partition(model.labels_, reference.labels_)
    assert len(model.cluster_persistence_) == len(reference.cluster_persistence_)
    matched = [mapping.get(k, k) for k in range(len(model.cluster_persistence_))]
    np.testing.assert_allclose(
        model.cluster_persistence_, reference.cluster_persistence_[matched], rtol=rtol, atol=0
    )
    np.testing.assert_allclose(model.probabilities_, reference.probabilities_, rtol=rtol, atol=0)
    np.testing.assert_allclose(
        model.outlier_scores_, reference.outlier_scores_, rtol=rtol, atol=1e-12
    )
