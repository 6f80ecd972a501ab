"""scikit-learn's estimator protocol: parameters as given, set_params, clone, pipelines,
grid searches and tags."""

import inspect
import warnings

import numpy as np
import pytest
from sklearn.base import clone
from sklearn.exceptions import NotFittedError
from sklearn.model_selection import GridSearchCV
from sklearn.pipeline import Pipeline
from sklearn.preprocessing import StandardScaler
from sklearn.utils import get_tags
from sklearn.utils.validation import check_is_fitted

from corvane import HDBSCAN

# get_params covers exactly the constructor's parameters (pinned in test_constructor).
NAMES = list(inspect.signature(HDBSCAN).parameters)


def blobs(seed=0, n=300):
    rng = np.random.default_rng(seed)
    centres = np.array([[0.0, 0.0], [10.0, 0.0], [0.0, 10.0]])
    return centres[np.arange(n) % 3] + rng.normal(size=(n, 2))


class Exponent(float):
    """A float subclass: the object itself must come back, not an equal float."""


@pytest.fixture(autouse=True)
def no_warnings():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        yield


def test_get_params_hands_back_the_given_objects():
    given = {
        "min_cluster_size": np.int64(7),
        "min_samples": 3,
        "metric": "minkowski",
        "p": Exponent(3.0),
        "alpha": 2,
        "cluster_selection_epsilon": np.float64(0.5),
        "cluster_selection_method": "leaf",
        "allow_single_cluster": np.bool_(True),
        "n_jobs": 1,
        "max_cluster_size": np.uint16(40),
        "cluster_selection_epsilon_max": np.float32(2.5),
    }
    model = HDBSCAN(**given)
    params = model.get_params()
    assert list(params) == NAMES
    for name, value in given.items():
        assert params[name] is value, name
        assert getattr(model, name) is value, name
    assert model.get_params(deep=False) == params
    defaults = HDBSCAN().get_params()
    assert defaults == {
        "min_cluster_size": 5,
        "min_samples": None,
        "metric": "euclidean",
        "p": None,
        "alpha": 1.0,
        "cluster_selection_epsilon": 0.0,
        "cluster_selection_method": "eom",
        "allow_single_cluster": False,
        "n_jobs": None,
        "max_cluster_size": None,
        "cluster_selection_epsilon_max": None,
    }


@pytest.mark.parametrize(
    ("change", "error", "message"),
    [
        ({"min_cluster_size": 1}, ValueError, "min_cluster_size must be at least 2, got 1"),
        ({"min_samples": 0}, ValueError, "min_samples must be at least 1, got 0"),
        ({"min_cluster_size": -1}, OverflowError, None),
        ({"min_cluster_size": 5.0}, TypeError, "argument 'min_cluster_size': "),
        ({"metric": "L1"}, ValueError, "Unknown metric: 'L1'. Expected one of: euclidean, "),
        ({"metric": "minkowski", "p": 0.5}, ValueError, "Minkowski p must be >= 1.0, got 0.5"),
        ({"alpha": None}, TypeError, "argument 'alpha': "),
        ({"cluster_selection_method": "EOM"}, ValueError, "Unknown cluster_selection_method"),
        ({"allow_single_cluster": 1}, TypeError, "argument 'allow_single_cluster': "),
        ({"n_jobs": 0}, ValueError, "n_jobs must be None, -1 or a positive integer, got 0"),
        # Every parameter is checked before any changes: a good one beside a bad one
        # changes nothing either.
        ({"min_samples": 2, "alpha": "x"}, TypeError, "argument 'alpha': "),
        ({"bogus": 1}, ValueError, "Invalid parameter 'bogus' for estimator HDBSCAN("),
    ],
)
def test_set_params_checks_like_the_constructor_and_changes_nothing_on_failure(
    change, error, message
):
    model = HDBSCAN(min_cluster_size=9).fit(blobs())
    before = (repr(model), model.get_params(), model.labels_)
    with pytest.raises(error) as raised:
        model.set_params(**change)
    if message is not None:
        assert str(raised.value).startswith(message)
    if "bogus" not in change:
        with pytest.raises(error):
            HDBSCAN(**{**model.get_params(), **change})
    assert (repr(model), model.get_params()) == before[:2]
    assert np.array_equal(model.labels_, before[2])


def test_set_params_returns_self_and_keeps_the_fit_until_the_next():
    model = HDBSCAN().fit(blobs())
    labels = model.labels_
    assert model.set_params(min_cluster_size=40, metric="l1", n_jobs=2) is model
    assert repr(model) == (
        "HDBSCAN(min_cluster_size=40, min_samples=None, metric='l1', alpha=1, "
        "cluster_selection_epsilon=0, cluster_selection_method='eom', "
        "allow_single_cluster=false, n_jobs=2)"
    )
    assert np.array_equal(model.labels_, labels)
    model.fit(blobs())
    assert np.array_equal(
        model.labels_, HDBSCAN(min_cluster_size=40, metric="l1").fit_predict(blobs())
    )
    assert model.set_params() is model
    with pytest.raises(TypeError):
        model.set_params({"min_cluster_size": 3})


def test_clone_keeps_parameters_and_drops_the_fit():
    model = HDBSCAN(min_cluster_size=np.int64(12), metric="cityblock", p=Exponent(4.0), n_jobs=1)
    model.fit(blobs())
    copy = clone(model)
    assert repr(copy) == repr(model)
    assert copy.get_params() == model.get_params()
    check_is_fitted(model)
    with pytest.raises(NotFittedError):
        check_is_fitted(copy)
    assert np.array_equal(copy.fit_predict(blobs()), model.labels_)


def test_pipeline_with_scaler():
    x = blobs() * np.array([1.0, 1000.0])  # unscaled, the second column swamps the first
    pipeline = Pipeline([("scale", StandardScaler()), ("cluster", HDBSCAN())])
    labels = pipeline.fit_predict(x)
    expected = HDBSCAN().fit_predict(StandardScaler().fit_transform(x))
    assert np.array_equal(labels, expected)
    assert len(set(labels.tolist()) - {-1}) == 3


def clustered_share(estimator, x, y=None):
    """A scorer of our own: the share of held-out points that fall into a cluster."""
    labels, _ = estimator.approximate_predict(x)
    return float(np.mean(labels >= 0))


def test_grid_search_over_min_cluster_size():
    search = GridSearchCV(
        HDBSCAN(), {"min_cluster_size": [5, 20, 60]}, scoring=clustered_share, cv=3
    )
    search.fit(blobs(n=600))
    assert search.best_params_["min_cluster_size"] in (5, 20, 60)
    scores = search.cv_results_["mean_test_score"]
    assert np.all((scores >= 0) & (scores <= 1))
    assert isinstance(search.best_estimator_, HDBSCAN)
    check_is_fitted(search.best_estimator_)


def test_tags_mark_a_clusterer_and_pairwise_precomputed_input():
    tags = get_tags(HDBSCAN())
    assert tags.estimator_type == "clusterer"
    assert not tags.target_tags.required
    assert not tags.input_tags.pairwise
    assert get_tags(HDBSCAN(metric="precomputed")).input_tags.pairwise
    # Pairwise input is cut both ways in cross-validation: each fold fits on its square
    # block of distances and predicts from its rows against the training columns.
    x = blobs(n=300)
    distances = np.sqrt(((x[:, None, :] - x[None, :, :]) ** 2).sum(-1))
    search = GridSearchCV(
        HDBSCAN(metric="precomputed"), {"min_cluster_size": [5, 10]}, scoring=clustered_share, cv=3
    )
    search.fit(distances)
    assert search.best_score_ > 0.5
