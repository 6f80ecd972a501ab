"""Array exchange: which arrays are accepted, exact copies, fresh result arrays."""

import numpy as np
import pytest

from corvane import HDBSCAN

BAD_ARRAY = "Expected a 2-D numpy array with dtype float32 or float64"


def blobs(seed=0, n=60, d=3):
    rng = np.random.default_rng(seed)
    centres = rng.normal(scale=10.0, size=(3, d))
    return centres[rng.integers(0, 3, n)] + rng.normal(size=(n, d))


def fitted_state(model):
    return (
        model.labels_.tolist(),
        model.probabilities_.tolist(),
        model.outlier_scores_.tolist(),
        model.cluster_persistence_.tolist(),
    )


def test_any_strides_give_the_same_fit():
    base = blobs(1, n=80, d=4)
    reference = fitted_state(HDBSCAN(min_cluster_size=4).fit(base))
    views = [
        np.asfortranarray(base),
        np.repeat(base, 2, axis=1)[:, ::2],  # every second column
        base[::-1, ::-1][::-1, ::-1],  # reversed twice: negative strides, same order
        np.ascontiguousarray(base[::-1])[::-1],  # a reversed view of a reversed copy
    ]
    for view in views:
        assert np.array_equal(view, base)
        assert fitted_state(HDBSCAN(min_cluster_size=4).fit(view)) == reference


def test_reversed_view_is_read_in_logical_order():
    base = blobs(2, n=50, d=2)
    flipped = base[::-1, ::-1]
    model = HDBSCAN(min_cluster_size=4).fit(flipped)
    copy = HDBSCAN(min_cluster_size=4).fit(np.ascontiguousarray(flipped))
    assert fitted_state(model) == fitted_state(copy)


def test_float32_is_widened_exactly():
    data32 = blobs(3, n=70, d=3).astype(np.float32)
    wide = data32.astype(np.float64)
    a = HDBSCAN(min_cluster_size=4).fit(data32)
    b = HDBSCAN(min_cluster_size=4).fit(wide)
    assert fitted_state(a) == fitted_state(b)
    c = HDBSCAN(min_cluster_size=4).fit(np.asfortranarray(data32)[:, ::-1])
    d = HDBSCAN(min_cluster_size=4).fit(np.ascontiguousarray(wide[:, ::-1]))
    assert fitted_state(c) == fitted_state(d)


class ArraySubclass(np.ndarray):
    pass


def test_subclasses_and_read_only_arrays_are_accepted():
    base = blobs(4, n=40)
    sub = base.view(ArraySubclass)
    read_only = base.copy()
    read_only.flags.writeable = False
    reference = fitted_state(HDBSCAN(min_cluster_size=4).fit(base))
    assert fitted_state(HDBSCAN(min_cluster_size=4).fit(sub)) == reference
    assert fitted_state(HDBSCAN(min_cluster_size=4).fit(read_only)) == reference


@pytest.mark.parametrize(
    "x",
    [
        [[0.0, 1.0], [1.0, 0.0]],
        np.zeros(10),
        np.zeros((2, 3, 4)),
        np.zeros((10, 2), dtype=np.int64),
        np.zeros((10, 2), dtype=np.int32),
        np.zeros((10, 2), dtype=bool),
        np.zeros((10, 2), dtype=np.float16),
        np.zeros((10, 2), dtype=np.longdouble),
        np.zeros((10, 2), dtype=np.complex128),
        np.zeros((10, 2), dtype=object),
        np.zeros((10, 2), dtype=">f8"),
        np.zeros((10, 2), dtype=">f4"),
        np.float64(1.0),
        None,
        "data",
    ],
)
def test_unusable_arrays_raise_type_error(x):
    model = HDBSCAN()
    for method in (model.fit, model.fit_predict):
        with pytest.raises(TypeError) as info:
            method(x)
        assert str(info.value) == BAD_ARRAY
    with pytest.raises(ValueError):
        model.n_features_in_  # noqa: B018


def test_type_error_comes_before_anything_else():
    with pytest.raises(TypeError, match=BAD_ARRAY):
        HDBSCAN(metric="precomputed").fit(np.zeros(3))


def test_zero_rows_are_converted_then_rejected():
    model = HDBSCAN()
    with pytest.raises(ValueError) as info:
        model.fit(np.zeros((0, 3)))
    assert str(info.value) == "input data must have at least one point"
    assert model.n_features_in_ == 3


def test_result_arrays_are_fresh_one_dimensional_copies():
    model = HDBSCAN(min_cluster_size=4).fit(blobs(5))
    expected = {
        "labels_": np.int32,
        "probabilities_": np.float64,
        "outlier_scores_": np.float64,
        "cluster_persistence_": np.float64,
    }
    for name, dtype in expected.items():
        first = getattr(model, name)
        second = getattr(model, name)
        assert first.dtype == dtype and first.ndim == 1
        assert first.flags.c_contiguous and first.flags.writeable and first.flags.owndata
        assert first is not second
        assert np.array_equal(first, second)
        first[...] = 7
        assert np.array_equal(getattr(model, name), second)
    assert len(model.labels_) == 60


def test_input_is_not_modified_or_retained():
    data = blobs(6)
    before = data.copy()
    model = HDBSCAN(min_cluster_size=4)
    model.fit(data)
    assert np.array_equal(data, before)
    labels = model.labels_.copy()
    data[:] = 0.0
    assert np.array_equal(model.labels_, labels)
