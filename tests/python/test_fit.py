"""fit and fit_predict: signatures, validation order, state after failures."""

import numpy as np
import pytest

from corvane import HDBSCAN


def blobs(seed=0, n=90, d=2):
    rng = np.random.default_rng(seed)
    centres = np.array([[0.0, 0.0], [12.0, 0.0], [0.0, 12.0]])[:, :d]
    return centres[np.arange(n) % 3] + rng.normal(size=(n, d))


def test_method_signatures_and_docstrings():
    assert HDBSCAN.fit.__text_signature__ == "($self, X, y=None)"
    assert HDBSCAN.fit_predict.__text_signature__ == "($self, X, y=None)"
    fit_lines = HDBSCAN.fit.__doc__.split("\n")
    assert fit_lines[:12] == [
        "Fit the model to data.",
        "",
        "Parameters",
        "----------",
        "X : numpy.ndarray of shape (n_samples, n_features)",
        "    Training data.",
        "y : ignored",
        "    Not used; accepted for scikit-learn pipelines.",
        "",
        "Returns",
        "-------",
        "self : HDBSCAN",
    ]
    assert fit_lines[12].startswith("    Returns self for method chaining (")
    assert fit_lines[12].endswith(")")
    assert HDBSCAN.fit_predict.__doc__ == (
        "Fit the model to data and return cluster labels.\n\nParameters\n----------\n"
        "X : numpy.ndarray of shape (n_samples, n_features)\n    Training data.\n"
        "y : ignored\n    Not used; accepted for scikit-learn pipelines.\n\n"
        "Returns\n-------\nlabels : numpy.ndarray of shape (n_samples,)\n"
        "    Cluster labels. -1 indicates noise."
    )


def test_fit_returns_the_same_object_and_keyword_x():
    model = HDBSCAN()
    assert model.fit(blobs()) is model
    assert model.fit(X=blobs()) is model
    with pytest.raises(TypeError):
        model.fit()
    # y is accepted and ignored, as scikit-learn pipelines pass it.
    assert model.fit(blobs(), np.arange(90)) is model
    assert np.array_equal(model.fit_predict(blobs(), y=None), model.labels_)
    with pytest.raises(TypeError):
        model.fit(blobs(), None, None)
    with pytest.raises(TypeError):
        model.fit(Y=blobs())


def test_fit_predict_returns_a_copy_of_the_labels():
    model = HDBSCAN()
    labels = model.fit_predict(blobs())
    assert labels.dtype == np.int32
    assert np.array_equal(labels, model.labels_)
    assert labels is not model.labels_
    assert set(labels.tolist()) == {0, 1, 2}
    assert model.n_features_in_ == 2


def message_of(model, x):
    with pytest.raises(ValueError) as info:
        model.fit(x)
    assert type(info.value) is ValueError
    return str(info.value)


def test_validation_messages_and_order():
    nan_data = blobs()
    nan_data[5, 1] = np.nan
    inf_data = blobs()
    inf_data[0, 0] = -np.inf
    assert message_of(HDBSCAN(), nan_data) == "input data contains NaN or infinite values"
    assert message_of(HDBSCAN(), inf_data) == "input data contains NaN or infinite values"
    assert message_of(HDBSCAN(), blobs(n=4)) == "min_samples (5) exceeds number of points (4)"
    assert (
        message_of(HDBSCAN(min_samples=10), blobs(n=7))
        == "min_samples (10) exceeds number of points (7)"
    )
    assert (
        message_of(HDBSCAN(min_cluster_size=10), blobs(n=7))
        == "min_samples (10) exceeds number of points (7)"
    )
    # Non-finite values are reported before the point count.
    small_nan = blobs(n=4)
    small_nan[3, 0] = np.nan
    assert message_of(HDBSCAN(), small_nan) == "input data contains NaN or infinite values"
    # Empty input before everything about the values.
    assert message_of(HDBSCAN(metric="precomputed"), np.zeros((0, 3))) == (
        "input data must have at least one point"
    )


def test_min_samples_equal_to_n_is_accepted():
    labels = HDBSCAN(min_cluster_size=2, min_samples=7).fit_predict(blobs(n=7))
    assert len(labels) == 7


def test_precomputed_validation():
    assert message_of(HDBSCAN(metric="precomputed"), np.zeros((3, 4))) == (
        "precomputed distance matrix must be square, got 3x4"
    )
    negative_first = np.ones((6, 6))
    negative_first[1, 2] = -1.0
    negative_first[4, 0] = np.nan
    assert message_of(HDBSCAN(metric="precomputed"), negative_first) == (
        "precomputed distance matrix contains negative values"
    )
    nan_first = np.ones((6, 6))
    nan_first[1, 2] = np.nan
    nan_first[4, 0] = -1.0
    assert message_of(HDBSCAN(metric="precomputed"), nan_first) == (
        "input data contains NaN or infinite values"
    )
    negative_zero = np.ones((6, 6))
    np.fill_diagonal(negative_zero, -0.0)
    HDBSCAN(metric="precomputed").fit(negative_zero)
    # Negative values are fine outside precomputed.
    HDBSCAN().fit(-blobs())


def test_single_point_with_min_samples_one():
    model = HDBSCAN(min_samples=1).fit(np.array([[1.0, 2.0]]))
    assert model.labels_.tolist() == [-1]
    assert model.probabilities_.tolist() == [0.0]
    assert model.outlier_scores_.tolist() == [0.0]
    assert model.cluster_persistence_.tolist() == []


def test_failed_fit_keeps_the_model_but_records_the_width():
    model = HDBSCAN()
    model.fit(blobs())
    labels = model.labels_
    bad = np.full((10, 5), np.nan)
    with pytest.raises(ValueError):
        model.fit(bad)
    assert model.n_features_in_ == 5
    assert np.array_equal(model.labels_, labels)
    with pytest.raises(TypeError):
        model.fit([[1.0, 2.0]])
    assert model.n_features_in_ == 5


def test_failed_first_fit_leaves_the_model_unfitted():
    model = HDBSCAN()
    with pytest.raises(ValueError):
        model.fit(np.zeros((3, 4)))
    assert model.n_features_in_ == 4
    with pytest.raises(ValueError, match="^Model has not been fitted yet$"):
        model.labels_  # noqa: B018


def test_refit_with_another_width_replaces_everything():
    model = HDBSCAN()
    model.fit(blobs(n=90, d=2))
    first = model.labels_
    rng = np.random.default_rng(3)
    wide = np.vstack([rng.normal(size=(40, 6)), rng.normal(size=(40, 6)) + 20.0])
    model.fit(wide)
    assert model.n_features_in_ == 6
    assert len(model.labels_) == 80 != len(first)
    assert len(model.probabilities_) == len(model.outlier_scores_) == 80
