"""Soft clustering: every vector against the plain transcription of its definition
(soft_reference.py), properties on data with duplicates and ties, top_k, thread counts,
the selection followed, and the checks of the arguments."""

import numpy as np
import pytest
from reference import pairwise
from soft_reference import SoftReference

from corvane import HDBSCAN

NOT_FITTED = "model has not been fitted yet"
TOP_K_TYPE = "top_k must be None or a positive integer, not {}"
TOP_K_VALUE = "top_k must be None or a positive integer, got {}"

exports = pytest.mark.skipif(
    not hasattr(HDBSCAN, "condensed_tree_"), reason="needs the condensed tree as an array"
)


def clustered(seed, n=150, d=2, levels=None, duplicates=0):
    """Three blobs of different spread plus background; `levels` snaps values to a grid
    (ties), `duplicates` repeats the first rows that many times."""
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-8, 8, size=(3, d))
    x = (
        centres[np.arange(n) % 3]
        + rng.normal(size=(n, d)) * np.array([0.4, 0.8, 1.2])[np.arange(n) % 3, None]
    )
    x[::11] = rng.uniform(-12, 12, size=x[::11].shape)
    if levels:
        x = np.round(x * levels) / levels
    if duplicates:
        x = np.vstack([x, np.repeat(x[:5], duplicates, axis=0)])
    return x


def core_distances(x, k, metric):
    return np.partition(pairwise(x, metric), k - 1, axis=1)[:, k - 1]


FITS = [
    ("eom", {}, {}),
    ("leaf", {"cluster_selection_method": "leaf"}, {}),
    ("epsilon", {"cluster_selection_epsilon": 1.5}, {}),
    ("single", {"allow_single_cluster": True, "min_cluster_size": 60}, {}),
    ("manhattan", {"metric": "manhattan"}, {}),
    ("cosine", {"metric": "cosine"}, {"d": 3}),
    ("precomputed", {"metric": "precomputed"}, {}),
    ("wide", {}, {"d": 20}),
    ("duplicates", {}, {"duplicates": 6}),
]


@exports
@pytest.mark.parametrize("name, params, shape", FITS, ids=[f[0] for f in FITS])
def test_vectors_and_scores_match_the_definition(name, params, shape):
    x = clustered(3, **shape)
    new = clustered(4, n=40, **{k: v for k, v in shape.items() if k == "d"})
    new[:5] = x[10:15]
    metric = params.get("metric", "euclidean")
    fit_params = {"min_cluster_size": 8, "min_samples": 4, **params}
    if metric == "precomputed":
        fit_on, new_on = pairwise(x), pairwise(np.vstack([new, x]))[: len(new), len(new) :]
        fit_params["metric"] = "precomputed"
    else:
        fit_on, new_on = x, new
    model = HDBSCAN(**fit_params).fit(fit_on)
    reference = SoftReference(model)
    assert reference.k >= 1, name
    truth = reference.all_points(fit_on, metric)
    np.testing.assert_allclose(model.all_points_membership_vectors(), truth, rtol=1e-9, atol=1e-12)

    core = core_distances(fit_on, fit_params["min_samples"], metric)
    new_truth = reference.new_points(fit_on, new_on, metric, core)
    np.testing.assert_allclose(model.membership_vectors(new_on), new_truth, rtol=1e-9, atol=1e-12)
    np.testing.assert_allclose(
        model.approximate_outlier_scores(new_on),
        reference.outlier_scores(fit_on, new_on, metric, core),
        rtol=1e-9,
        atol=1e-12,
    )


def nearest_is_itself(x, k):
    """Rows whose nearest training point under max(distance, core distance), lowest row on
    ties, is the row itself."""
    d = pairwise(x)
    reach = np.maximum(d, core_distances(x, k, "euclidean")[None, :])
    return np.argmin(reach, axis=1) == np.arange(len(x))


def test_training_rows_as_new_points_agree_where_they_join_through_themselves():
    x = clustered(5)
    model = HDBSCAN(min_cluster_size=8, min_samples=4).fit(x)
    itself = nearest_is_itself(x, 4)
    assert 0 < itself.sum() < len(x)
    fitted = model.all_points_membership_vectors()
    again = model.membership_vectors(x)
    assert np.array_equal(again[itself], fitted[itself])
    scores = model.approximate_outlier_scores(x)
    assert np.array_equal(scores[itself], model.outlier_scores_[itself])
    # Elsewhere the row joins through a denser neighbour, never less deep than the fit put it.
    assert np.all(scores[~itself] <= model.outlier_scores_[~itself])


def assert_top_k(dense, labels, probabilities, k):
    n, clusters = dense.shape
    assert labels.shape == probabilities.shape == (n, k)
    assert labels.dtype == np.int32 and probabilities.dtype == np.float64
    for row, got_labels, got in zip(dense, labels, probabilities):
        order = sorted(range(clusters), key=lambda c: (-row[c], c))[:k]
        shown = len(order)
        assert got_labels[:shown].tolist() == order
        assert np.array_equal(got[:shown], row[order])
        assert np.all(got_labels[shown:] == -1) and np.all(got[shown:] == 0.0)


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_properties_on_data_with_duplicates_and_ties(seed):
    x = clustered(seed, n=300, levels=2, duplicates=4)
    params = {"min_cluster_size": 6, "min_samples": 3}
    one = HDBSCAN(**params, n_jobs=1).fit(x)
    two = HDBSCAN(**params, n_jobs=2).fit(x)
    new = clustered(seed + 10, n=300, levels=2)
    new[:20] = x[-20:]  # duplicates of training points, exemplars among them
    for name, dense_of, top_of in [
        ("training", lambda m: m.all_points_membership_vectors(), None),
        ("new", lambda m: m.membership_vectors(new), new),
    ]:
        dense = dense_of(one)
        assert dense.shape == (len(x) if top_of is None else len(new), one.labels_.max() + 1)
        assert np.all(np.isfinite(dense)), name
        assert np.all((dense >= 0.0) & (dense <= 1.0)), name
        sums = dense.sum(axis=1)
        assert np.all((sums >= 0.0) & (sums <= 1.0 + 1e-12)), name
        assert np.array_equal(dense, dense_of(two)), f"{name}: thread count changed the result"
        for k in (1, 3, dense.shape[1] + 2):
            if top_of is None:
                labels, probabilities = one.all_points_membership_vectors(top_k=k)
            else:
                labels, probabilities = one.membership_vectors(top_of, top_k=k)
            assert_top_k(dense, labels, probabilities, k)
    # Clustered training points lean to their own cluster.
    fitted = one.all_points_membership_vectors()
    members = one.labels_ >= 0
    agree = fitted[members].argmax(axis=1) == one.labels_[members]
    assert agree.mean() > 0.9
    scores = one.approximate_outlier_scores(new)
    assert np.all((scores >= 0.0) & (scores <= 1.0))
    assert np.array_equal(scores, two.approximate_outlier_scores(new))


def test_duplicates_of_an_exemplar_take_its_distance_part():
    x = clustered(7, duplicates=10)
    model = HDBSCAN(min_cluster_size=8, min_samples=4).fit(x)
    vectors = model.membership_vectors(np.repeat(x[:5], 2, axis=0))
    assert np.all(np.isfinite(vectors))
    fitted = model.all_points_membership_vectors()
    assert np.all(np.isfinite(fitted)) and np.all(fitted.sum(axis=1) <= 1.0 + 1e-12)


def test_a_fit_without_clusters_gives_no_columns():
    x = np.random.default_rng(0).uniform(size=(40, 2))
    model = HDBSCAN(min_cluster_size=30).fit(x)
    assert model.labels_.max() == -1
    assert model.all_points_membership_vectors().shape == (40, 0)
    assert model.membership_vectors(x[:7]).shape == (7, 0)
    labels, probabilities = model.membership_vectors(x[:7], top_k=2)
    assert np.all(labels == -1) and np.all(probabilities == 0.0) and labels.shape == (7, 2)
    assert model.approximate_outlier_scores(x[:3]).shape == (3,)


def test_unusable_rows_get_zeros_and_the_highest_outlier_score():
    x = clustered(8)
    model = HDBSCAN(min_cluster_size=8).fit(x)
    new = np.array([[np.nan, 0.0], [np.inf, 1.0], x[0]])
    vectors = model.membership_vectors(new)
    assert np.all(vectors[:2] == 0.0) and vectors[2].sum() > 0.0
    labels, probabilities = model.membership_vectors(new, top_k=2)
    assert labels[:2].tolist() == [[0, 1], [0, 1]] and np.all(probabilities[:2] == 0.0)
    assert model.approximate_outlier_scores(new)[:2].tolist() == [1.0, 1.0]
    assert model.approximate_predict(new)[0][:2].tolist() == [-1, -1]


def test_vectors_follow_the_selection_fitted():
    x = clustered(9)
    plain = HDBSCAN(min_cluster_size=5, min_samples=3).fit(x)
    merged = HDBSCAN(min_cluster_size=5, min_samples=3, cluster_selection_epsilon=3.0).fit(x)
    assert merged.labels_.max() < plain.labels_.max()
    for model in (plain, merged):
        k = model.labels_.max() + 1
        assert model.all_points_membership_vectors().shape == (len(x), k)
        assert model.membership_vectors(x[:4]).shape == (4, k)


def test_arguments_are_checked():
    x = clustered(10)
    unfitted = HDBSCAN()
    for call in (
        unfitted.all_points_membership_vectors,
        lambda: unfitted.membership_vectors(x),
        lambda: unfitted.approximate_outlier_scores(x),
    ):
        with pytest.raises(ValueError, match=f"^{NOT_FITTED}$"):
            call()
    model = HDBSCAN(min_cluster_size=8).fit(x)
    for bad, message in [
        (0, TOP_K_VALUE.format(0)),
        (-3, TOP_K_VALUE.format(-3)),
        (True, TOP_K_TYPE.format("bool")),
        (2.0, TOP_K_TYPE.format("float")),
        ("2", TOP_K_TYPE.format("str")),
    ]:
        with pytest.raises(ValueError) as dense_error:
            model.all_points_membership_vectors(top_k=bad)
        with pytest.raises(ValueError) as new_error:
            model.membership_vectors(x, top_k=bad)
        assert str(dense_error.value) == str(new_error.value) == message
    assert model.membership_vectors(x, top_k=np.int64(2))[0].shape == (len(x), 2)
    for huge in (2**40, 2**62, 2**70):
        with pytest.raises(MemoryError):
            model.all_points_membership_vectors(top_k=huge)
    with pytest.raises(TypeError):
        model.approximate_outlier_scores(x, top_k=2)
    wrong = np.zeros((3, 3))
    with pytest.raises(ValueError) as expected:
        model.approximate_predict(wrong)
    for call in (model.membership_vectors, model.approximate_outlier_scores):
        with pytest.raises(ValueError) as got:
            call(wrong)
        assert str(got.value) == str(expected.value)
    assert model.membership_vectors(np.zeros((0, 2))).shape == (0, model.labels_.max() + 1)
    assert model.approximate_outlier_scores(np.zeros((0, 2))).shape == (0,)


def test_vectors_follow_a_reselection_as_a_fresh_fit():
    x = clustered(11)
    new = clustered(12, n=40)
    model = HDBSCAN(min_cluster_size=8, min_samples=4).fit(x)
    for params in (
        {"min_cluster_size": 15},
        {"cluster_selection_method": "leaf"},
        {"cluster_selection_epsilon": 2.0},
        {"max_cluster_size": 40, "cluster_selection_epsilon": 0.0},
    ):
        model.reselect(**params)
        fresh = HDBSCAN(**model.get_params()).fit(x)
        assert np.array_equal(
            model.all_points_membership_vectors(), fresh.all_points_membership_vectors()
        ), params
        assert np.array_equal(model.membership_vectors(new), fresh.membership_vectors(new))
        assert np.array_equal(
            model.approximate_outlier_scores(new), fresh.approximate_outlier_scores(new)
        )
