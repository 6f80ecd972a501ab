"""Invariants of a fit on small random inputs of every kind (Hypothesis)."""

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from corvane import HDBSCAN

METRICS = [
    ("euclidean", None),
    ("manhattan", None),
    ("cosine", None),
    ("minkowski", 3.0),
    ("minkowski", float("inf")),
    ("precomputed", None),
]


@st.composite
def fit_cases(draw):
    n = draw(st.integers(1, 60))
    d = draw(st.integers(1, 5))
    metric, p = draw(st.sampled_from(METRICS))
    # A few distinct values repeated: duplicates and ties on purpose.
    distinct = draw(st.integers(1, 12))
    values = draw(
        st.lists(
            st.floats(-50, 50, allow_nan=False, width=32), min_size=distinct, max_size=distinct
        )
    )
    pick = draw(st.lists(st.integers(0, distinct - 1), min_size=n * d, max_size=n * d))
    data = np.array(values, dtype=np.float64)[pick].reshape(n, d)
    if metric == "precomputed":
        data = np.sqrt(((data[:, None, :] - data[None, :, :]) ** 2).sum(-1))
    min_cluster_size = draw(st.integers(2, max(2, n)))
    min_samples = draw(st.one_of(st.none(), st.integers(1, n)))
    if min_samples is None and min_cluster_size > n:
        min_samples = n
    params = {
        "min_cluster_size": min_cluster_size,
        "min_samples": min_samples,
        "metric": metric,
        "p": p,
        "alpha": draw(st.sampled_from([1.0, 0.5, 2.0])),
        "cluster_selection_epsilon": draw(st.sampled_from([0.0, 0.5, 5.0])),
        "cluster_selection_method": draw(st.sampled_from(["eom", "leaf"])),
        "allow_single_cluster": draw(st.booleans()),
    }
    return data, params


def check_invariants(model, n):
    labels = model.labels_
    probabilities = model.probabilities_
    scores = model.outlier_scores_
    persistence = model.cluster_persistence_
    assert labels.shape == probabilities.shape == scores.shape == (n,)
    assert labels.min() >= -1
    used = sorted(set(labels.tolist()) - {-1})
    assert used == list(range(len(used))), "labels numbered from 0 without gaps"
    assert len(persistence) >= len(used)
    assert not np.isnan(probabilities).any() and not np.isnan(scores).any()
    assert ((probabilities >= 0) & (probabilities <= 1)).all()
    assert ((scores >= 0) & (scores <= 1)).all()
    assert (probabilities[labels == -1] == 0).all()
    assert not np.isnan(persistence).any() and (persistence >= 0).all()


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(fit_cases())
def test_invariants_on_random_inputs(case):
    data, params = case
    model = HDBSCAN(**params).fit(data)
    check_invariants(model, len(data))
    # Selected clusters other than a selected root label at least one point; leaf
    # selection on a root without children selects the root, born at 0.
    used = len(set(model.labels_.tolist()) - {-1})
    persistence = model.cluster_persistence_
    if not params["allow_single_cluster"] and len(persistence) != used:
        assert params["cluster_selection_method"] == "leaf" and used == 0
        assert persistence.tolist() == [float("inf")]
    # Identical points never get different labels.
    if params["metric"] != "precomputed":
        _, first, inverse = np.unique(data, axis=0, return_index=True, return_inverse=True)
        assert np.array_equal(model.labels_, model.labels_[first][inverse.ravel()])


@st.composite
def distinct_points(draw):
    n = draw(st.integers(8, 60))
    d = draw(st.integers(1, 4))
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-10, 10, size=(3, d))
    return centres[rng.integers(0, 3, n)] + rng.normal(size=(n, d))


def partition(labels):
    """The clusters as a set of frozensets of row numbers (noise left out)."""
    return {frozenset(np.flatnonzero(labels == k).tolist()) for k in set(labels.tolist()) - {-1}}


@settings(max_examples=100, deadline=None)
@given(distinct_points(), st.integers(0, 2**32 - 1))
def test_partition_is_invariant_under_row_permutation_and_scaling(data, seed):
    # min_samples=1 keeps mutual reachability free of core-distance ties, which
    # would let the row order decide between equally good trees.
    labels = HDBSCAN(min_cluster_size=4, min_samples=1).fit_predict(data)
    order = np.random.default_rng(seed).permutation(len(data))
    permuted = HDBSCAN(min_cluster_size=4, min_samples=1).fit_predict(data[order])
    unpermuted = np.empty_like(permuted)
    unpermuted[order] = permuted
    assert partition(unpermuted) == partition(labels)
    model = HDBSCAN(min_cluster_size=4, min_samples=3)
    assert np.array_equal(model.fit_predict(data * 8.0), model.fit_predict(data))


@settings(max_examples=100, deadline=None)
@given(distinct_points(), st.sampled_from(["C", "F"]), st.booleans())
def test_float32_equals_its_float64_widening_for_any_layout(data, order, reverse):
    narrow = np.asarray(data, dtype=np.float32, order=order)
    if reverse:
        narrow = narrow[::-1]
    wide = narrow.astype(np.float64)
    a = HDBSCAN(min_cluster_size=4).fit(narrow)
    b = HDBSCAN(min_cluster_size=4).fit(wide)
    assert np.array_equal(a.labels_, b.labels_)
    assert np.array_equal(a.probabilities_, b.probabilities_)
    assert np.array_equal(a.outlier_scores_, b.outlier_scores_)
