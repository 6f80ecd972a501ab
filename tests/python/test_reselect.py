"""reselect: a fitted model re-selected from its kept hierarchy equals a fresh fit with the
new parameters, attribute for attribute; failed calls change nothing."""

import itertools
import signal

import numpy as np
import pytest
from scipy.spatial.distance import cdist

from corvane import HDBSCAN

FITTED = ("labels_", "probabilities_", "outlier_scores_", "cluster_persistence_")


def data_sets():
    rng = np.random.default_rng(11)
    centres = rng.uniform(-8, 8, size=(4, 3))
    which = np.arange(240) % 4
    blobs = centres[which] + rng.normal(size=(240, 3)) * np.array([0.5, 1.0, 1.5, 2.0])[which, None]
    grid = rng.integers(0, 7, size=(240, 3)).astype(np.float64)  # many equal distances
    duplicated = np.repeat(blobs[::3], 3, axis=0)  # every point three times
    return {"blobs": np.round(blobs, 1), "grid": grid, "duplicated": duplicated}


METRICS = [
    {"metric": "euclidean"},
    {"metric": "manhattan"},
    {"metric": "cosine"},
    {"metric": "minkowski", "p": 3},
    {"metric": "minkowski", "p": float("inf")},
    {"metric": "precomputed"},
]


def assert_same_model(model, fresh, new_points, context):
    assert repr(model) == repr(fresh), context
    assert model.get_params() == fresh.get_params(), context
    for name in FITTED:
        assert np.array_equal(getattr(model, name), getattr(fresh, name)), (context, name)
    for mine, theirs in zip(
        model.approximate_predict(new_points), fresh.approximate_predict(new_points)
    ):
        assert np.array_equal(mine, theirs), context


@pytest.mark.parametrize(
    ("name", "metric"), list(itertools.product(data_sets(), range(len(METRICS))))
)
def test_reselect_equals_a_fresh_fit_for_every_combination(name, metric):
    x = data_sets()[name]
    new = x[:50] + 0.25
    kwargs = METRICS[metric]
    if kwargs["metric"] == "precomputed":
        x, new = cdist(x, x), cdist(new, x)
    scale = np.median(cdist(x[:60], x[:60]) if kwargs["metric"] != "precomputed" else x)
    if kwargs["metric"] == "cosine":
        scale = np.median(cdist(x[:60], x[:60], "cosine"))
    model = HDBSCAN(min_cluster_size=8, **kwargs).fit(x)  # min_samples None: 8 from now on
    grid = itertools.product(
        (8, 4, 20, len(x) + 1),  # min_cluster_size
        ("eom", "leaf"),
        (0.0, 0.05 * scale),  # cluster_selection_epsilon
        (None, 0.3 * scale),  # cluster_selection_epsilon_max
        (None, 30),  # max_cluster_size
        (False, True),  # allow_single_cluster
    )
    for size, method, epsilon, epsilon_max, cap, single in grid:
        selection = {
            "min_cluster_size": size,
            "cluster_selection_method": method,
            "cluster_selection_epsilon": epsilon,
            "cluster_selection_epsilon_max": epsilon_max,
            "max_cluster_size": None if cap is None else max(cap, size),
            "allow_single_cluster": single,
        }
        assert model.reselect(**selection) is model
        fresh = HDBSCAN(min_samples=8, **kwargs, **selection).fit(x)
        assert_same_model(model, fresh, new, (name, kwargs, selection))


def test_min_samples_is_fixed_at_the_fits_only_when_it_was_none():
    x = data_sets()["blobs"]
    model = HDBSCAN(min_cluster_size=6).fit(x)
    model.reselect()
    assert model.min_samples == 6 and "min_samples=6," in repr(model)
    model.reselect(min_cluster_size=12)
    assert model.min_samples == 6
    given = np.int64(3)
    model = HDBSCAN(min_cluster_size=6, min_samples=given).fit(x).reselect(min_cluster_size=9)
    assert model.min_samples is given


@pytest.mark.parametrize(
    ("change", "error", "message"),
    [
        ({"min_cluster_size": 1}, ValueError, "min_cluster_size must be at least 2, got 1"),
        ({"min_cluster_size": -1}, OverflowError, None),
        ({"min_cluster_size": 5.0}, TypeError, "argument 'min_cluster_size': "),
        (
            {"cluster_selection_method": "Leaf"},
            ValueError,
            "Unknown cluster_selection_method: 'Leaf'",
        ),
        ({"allow_single_cluster": 1}, TypeError, "argument 'allow_single_cluster': "),
        ({"cluster_selection_epsilon": None}, TypeError, "argument 'cluster_selection_epsilon': "),
        (
            {"max_cluster_size": 5},
            ValueError,
            "max_cluster_size must be at least min_cluster_size (9), got 5",
        ),
        (
            {"cluster_selection_epsilon": 2.0},
            ValueError,
            "cluster_selection_epsilon_max must be greater than cluster_selection_epsilon (2), "
            "got 1.5",
        ),
        ({"metric": "l1"}, TypeError, "reselect() got an unexpected keyword argument 'metric'; "),
        (
            {"min_samples": 3},
            TypeError,
            "reselect() got an unexpected keyword argument 'min_samples'",
        ),
        ({"X": 3}, TypeError, "reselect() got an unexpected keyword argument 'X'"),
    ],
)
def test_a_failed_reselect_changes_nothing(change, error, message):
    x = data_sets()["grid"]
    model = HDBSCAN(min_cluster_size=8, max_cluster_size=60, cluster_selection_epsilon_max=1.5)
    model.fit(x)
    before = (repr(model), model.get_params(), [getattr(model, name) for name in FITTED])
    with pytest.raises(error) as raised:
        model.reselect(**{"min_cluster_size": 9, **change})
    if message is not None:
        assert str(raised.value).startswith(message)
    assert repr(model) == before[0] and model.get_params() == before[1]
    for name, value in zip(FITTED, before[2]):
        assert np.array_equal(getattr(model, name), value), name


def test_reselect_needs_a_fit_and_the_fits_hierarchy():
    with pytest.raises(ValueError, match="^model has not been fitted yet$"):
        HDBSCAN().reselect(min_cluster_size=3)
    with pytest.raises(TypeError, match="takes only keyword arguments"):
        HDBSCAN().reselect(3)
    x = data_sets()["blobs"]
    refit = (
        "reselect keeps the fitted hierarchy: fit again to change min_samples, metric, p or alpha"
    )
    for change in ({"min_samples": 3}, {"metric": "l1"}, {"alpha": 2.0}):
        model = HDBSCAN(min_cluster_size=5, metric="minkowski", p=3).fit(x)
        model.set_params(**change)
        with pytest.raises(ValueError) as raised:
            model.reselect(min_cluster_size=7)
        assert str(raised.value) == refit
    # p matters only to Minkowski; an explicit min_samples equal to the fit's is the fit's.
    model = HDBSCAN(min_cluster_size=5).fit(x).set_params(p=7.0, min_samples=5)
    model.reselect(min_cluster_size=7)


def test_min_cluster_size_beyond_the_points_behaves_as_a_fresh_fit():
    x = data_sets()["blobs"][:30]
    model = HDBSCAN(min_cluster_size=5).fit(x).reselect(min_cluster_size=31)
    fresh = HDBSCAN(min_cluster_size=31, min_samples=5).fit(x)
    assert np.array_equal(model.labels_, np.full(30, -1)) and model.cluster_persistence_.size == 0
    assert_same_model(model, fresh, x, "min_cluster_size 31")
    # Without the fixed min_samples the same fit fails; reselect does not.
    with pytest.raises(ValueError, match=r"^min_samples \(31\) exceeds number of points \(30\)"):
        HDBSCAN(min_cluster_size=31).fit(x)


class Stop(Exception):
    pass


def test_a_handler_may_reselect_while_a_prediction_reads_the_model():
    rng = np.random.default_rng(4)
    x = rng.normal(size=(3000, 2)) + 6.0 * (np.arange(3000) % 3)[:, None]
    new = rng.normal(size=(400_000, 2)) * 4.0
    model = HDBSCAN(min_cluster_size=20).fit(x)
    expected = model.approximate_predict(new)
    calls = []

    def meddle(*_):
        calls.append(len(calls))
        model.reselect(min_cluster_size=20 + 2 * len(calls))

    previous = signal.signal(signal.SIGALRM, meddle)
    signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
    try:
        during = model.approximate_predict(new)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)
    # The prediction read the model it started with; the object holds the last re-selection.
    for mine, theirs in zip(during, expected):
        assert np.array_equal(mine, theirs)
    if calls:
        fresh = HDBSCAN(min_cluster_size=20 + 2 * len(calls), min_samples=20).fit(x)
        for name in FITTED:
            assert np.array_equal(getattr(model, name), getattr(fresh, name)), name


def test_an_interrupted_reselect_changes_nothing():
    rng = np.random.default_rng(5)
    model = HDBSCAN(min_cluster_size=10).fit(rng.normal(size=(400_000, 2)))
    labels = model.labels_

    def stop(*_):
        raise Stop

    previous = signal.signal(signal.SIGALRM, stop)
    interrupted = False
    try:
        for _ in range(5):
            signal.setitimer(signal.ITIMER_REAL, 0.002)
            try:
                model.reselect(min_cluster_size=50)
            except Stop:
                interrupted = True
                break
            signal.setitimer(signal.ITIMER_REAL, 0, 0)
            model.reselect(min_cluster_size=10)  # finished first: back, and again
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)
    if not interrupted:
        pytest.skip("every re-selection finished within 2 ms")
    assert np.array_equal(model.labels_, labels)
    assert "min_cluster_size=10," in repr(model)
