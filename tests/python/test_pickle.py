"""Saving and loading: round trips through pickle, copy and joblib, and the checks that
loading makes of every field of a state."""

import copy
import io
import pickle

import joblib
import numpy as np
import pytest
from sklearn.base import clone
from sklearn.pipeline import Pipeline
from sklearn.preprocessing import StandardScaler

from corvane import HDBSCAN

FITTED = ["labels_", "probabilities_", "outlier_scores_", "cluster_persistence_"]


def clustered(seed=0, n=300, d=2):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-10, 10, size=(3, d))
    x = centres[np.arange(n) % 3] + rng.normal(size=(n, d))
    x[::7] = rng.uniform(-14, 14, size=x[::7].shape)
    return x


def distances(x, y):
    return np.sqrt(((x[:, None, :] - y[None, :, :]) ** 2).sum(axis=2))


def joblib_round_trip(model):
    buffer = io.BytesIO()
    joblib.dump(model, buffer)
    buffer.seek(0)
    return joblib.load(buffer)


ROUND_TRIPS = {
    **{
        f"pickle-{protocol}": (lambda m, p=protocol: pickle.loads(pickle.dumps(m, protocol=p)))
        for protocol in range(2, 6)
    },
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    "joblib": joblib_round_trip,
}

METRICS = {
    "euclidean": {},
    "manhattan": {"metric": "manhattan"},
    "cosine": {"metric": "cosine"},
    "minkowski-3": {"metric": "minkowski", "p": 3.0},
    "chebyshev": {"metric": "minkowski", "p": float("inf")},
    "precomputed": {"metric": "precomputed"},
}


class Exponent(float):
    """A parameter object of the caller's own type."""


def bits(values):
    return values.view(np.int64) if values.dtype == np.float64 else values


def assert_same_model(got, expected):
    assert type(got) is HDBSCAN and got is not expected
    assert repr(got) == repr(expected)
    assert got.get_params() == expected.get_params()
    assert got.n_features_in_ == expected.n_features_in_
    for name in FITTED:
        np.testing.assert_array_equal(bits(getattr(got, name)), bits(getattr(expected, name)))


def assert_same_predictions(got, expected, x):
    for g, e in zip(got.approximate_predict(x), expected.approximate_predict(x)):
        np.testing.assert_array_equal(bits(g), bits(e))


@pytest.mark.parametrize("metric", list(METRICS))
def test_round_trips_of_fitted_models(metric):
    params = METRICS[metric]
    train, new = clustered(1, n=300, d=3), clustered(2, n=150, d=3)
    if metric == "precomputed":
        train, new = distances(train, train), distances(new, train)
    model = HDBSCAN(min_cluster_size=8, min_samples=4, n_jobs=2, **params).fit(train)
    # Before the first prediction, then after a batch large enough to build the index
    # that Euclidean models keep.
    for batch in (new[:5], new):
        for name, round_trip in ROUND_TRIPS.items():
            loaded = round_trip(model)
            assert_same_model(loaded, model)
            assert_same_predictions(loaded, model, new[:5])
            assert_same_predictions(loaded, model, new)
            assert loaded.__getstate__().keys() == model.__getstate__().keys(), name
        model.approximate_predict(batch)


@pytest.mark.parametrize("name", list(ROUND_TRIPS))
def test_round_trips_of_unfitted_models(name):
    round_trip = ROUND_TRIPS[name]
    plain = round_trip(HDBSCAN())
    assert repr(plain) == repr(HDBSCAN()) and plain.get_params() == HDBSCAN().get_params()
    with pytest.raises(ValueError, match="^Model has not been fitted yet$"):
        plain.n_features_in_  # noqa: B018
    # A failed first fit records the width on a model that stays unfitted.
    failed = HDBSCAN(metric="minkowski", p=3, cluster_selection_method="leaf", n_jobs=1)
    with pytest.raises(ValueError):
        failed.fit(np.zeros((3, 4)))
    loaded = round_trip(failed)
    assert loaded.n_features_in_ == 4 and loaded.get_params() == failed.get_params()
    with pytest.raises(ValueError, match="^Model has not been fitted yet$"):
        loaded.labels_  # noqa: B018
    assert clone(loaded).get_params() == failed.get_params()


def test_the_model_keeps_its_own_selection_and_width():
    """A model fitted under some parameters, which set_params changed afterwards, and a
    failed fit that recorded another width: the loaded model must keep what the fit
    made, not derive it again from the parameters."""
    x = clustered(3)
    model = HDBSCAN(min_cluster_size=6, cluster_selection_epsilon=0.7).fit(x)
    model.set_params(
        min_cluster_size=40,
        cluster_selection_method="leaf",
        allow_single_cluster=True,
        cluster_selection_epsilon=0.0,
    )
    with pytest.raises(ValueError):
        model.fit(np.full((5, 3), np.nan))
    loaded = pickle.loads(pickle.dumps(model))
    assert_same_model(loaded, model)
    assert loaded.n_features_in_ == 3
    assert_same_predictions(loaded, model, x)
    # The next fit follows the changed parameters in both.
    np.testing.assert_array_equal(loaded.fit_predict(x), model.fit_predict(x))


def test_reselected_models_keep_their_selection_and_reselect_alike():
    x = clustered(15, n=400, d=3)
    model = HDBSCAN(min_cluster_size=6, min_samples=3).fit(x)
    model.reselect(min_cluster_size=9, max_cluster_size=60, cluster_selection_method="leaf")
    loaded = pickle.loads(pickle.dumps(model))
    assert_same_model(loaded, model)
    assert_same_predictions(loaded, model, clustered(16, n=100, d=3))
    for m in (model, loaded):
        m.reselect(
            min_cluster_size=7,
            cluster_selection_epsilon=0.3,
            cluster_selection_epsilon_max=5.0,
            max_cluster_size=None,
        )
    assert_same_model(loaded, model)
    saved = loaded.__getstate__()["model"]
    assert saved["min_samples"] == 3 and saved["min_cluster_size"] == 7
    assert saved["max_cluster_size"] is None and saved["cluster_selection_epsilon_max"] == 5.0


def test_the_hierarchy_its_exports_and_soft_clustering_come_back():
    model = HDBSCAN(min_cluster_size=8).fit(clustered(17, n=300, d=2))
    loaded = pickle.loads(pickle.dumps(model))
    for name in (
        "condensed_tree_",
        "single_linkage_tree_",
        "minimum_spanning_tree_",
        "core_distances_",
    ):
        assert getattr(loaded, name).tobytes() == getattr(model, name).tobytes(), name
    for got, expected in zip(loaded.exemplars_, model.exemplars_):
        np.testing.assert_array_equal(got, expected)
    np.testing.assert_array_equal(loaded.cluster_medoids(), model.cluster_medoids())
    assert loaded.cluster_centroids().tobytes() == model.cluster_centroids().tobytes()
    new_points = clustered(18, n=40, d=2)
    assert loaded.all_points_membership_vectors().tobytes() == (
        model.all_points_membership_vectors().tobytes()
    )
    assert loaded.membership_vectors(new_points).tobytes() == (
        model.membership_vectors(new_points).tobytes()
    )
    assert loaded.approximate_outlier_scores(new_points).tobytes() == (
        model.approximate_outlier_scores(new_points).tobytes()
    )


def test_extreme_magnitudes_keep_their_shift():
    x = clustered(4) * 1e200
    model = HDBSCAN(min_cluster_size=8, cluster_selection_epsilon=1e200).fit(x)
    loaded = pickle.loads(pickle.dumps(model))
    assert_same_model(loaded, model)
    assert_same_predictions(loaded, model, clustered(5, n=80) * 1e200)


def test_one_point_and_all_noise():
    single = HDBSCAN(min_samples=1).fit(np.array([[1.0, 2.0]]))
    assert_same_model(pickle.loads(pickle.dumps(single)), single)
    line = np.arange(12, dtype=float)[:, None]  # equal gaps: no cluster
    model = HDBSCAN(min_cluster_size=5).fit(line)
    assert_same_model(pickle.loads(pickle.dumps(model)), model)


def test_saving_copies_no_large_array_and_protocol_5_passes_them_out_of_band():
    model = HDBSCAN().fit(clustered(6))
    saved = model.__getstate__()["model"]
    for name in ("training_data", "core_distances"):
        assert not saved[name].flags.writeable and not saved[name].flags.owndata
    with pytest.raises(ValueError):
        saved["training_data"][0, 0] = 1.0
    buffers = []
    data = pickle.dumps(model, protocol=5, buffer_callback=buffers.append)
    assert sum(memoryview(b).nbytes for b in buffers) >= saved["training_data"].nbytes
    assert len(data) < saved["training_data"].nbytes
    assert_same_model(pickle.loads(data, buffers=buffers), model)
    del model  # the views keep the model's memory alive
    np.testing.assert_array_equal(saved["training_data"], clustered(6))


def test_instance_attributes_and_pipelines_are_kept():
    model = HDBSCAN(min_cluster_size=10, p=Exponent(3.0)).fit(clustered(14))
    model.note = {"owner": "me", "self": model}
    loaded = copy.deepcopy(model)
    assert loaded.note["owner"] == "me" and loaded.note is not model.note
    assert loaded.note["self"] is loaded  # a cycle through the object is kept
    assert loaded.p == 3.0 and type(loaded.p) is Exponent and loaded.p is not model.p
    assert_same_model(loaded, model)
    shallow = copy.copy(model)
    assert shallow.note is model.note  # shallow: the attribute values are shared
    pipeline = Pipeline([("scale", StandardScaler()), ("cluster", HDBSCAN(min_cluster_size=10))])
    x = clustered(7)
    pipeline.fit(x)
    loaded = pickle.loads(pickle.dumps(pipeline))
    np.testing.assert_array_equal(loaded[-1].labels_, pipeline[-1].labels_)
    scaled = loaded[0].transform(x)
    assert_same_predictions(loaded[-1], pipeline[-1], scaled)


def test_setstate_replaces_everything_of_a_fitted_object():
    first = HDBSCAN(min_cluster_size=5).fit(clustered(8, d=2))
    first.extra = 1
    second = HDBSCAN(metric="manhattan", n_jobs=1).fit(clustered(9, n=200, d=4))
    first.__setstate__(second.__getstate__())
    assert_same_model(first, second)
    assert not hasattr(first, "extra")
    first.__setstate__(HDBSCAN().__getstate__())
    assert not first.__sklearn_is_fitted__()


# ---- refused states


def valid_state(**params):
    model = HDBSCAN(min_cluster_size=5, **params).fit(clustered(10, n=60, d=2))
    return model.__getstate__()


def set_model(field, value):
    def change(state):
        state["model"][field] = value(state["model"][field]) if callable(value) else value

    return change


def drop(field, inner=False):
    def change(state):
        del (state["model"] if inner else state)[field]

    return change


def make_cycle(state):
    saved = state["model"]
    saved["spanning_tree_weight"] = np.arange(len(saved["spanning_tree_weight"]), dtype=float)
    saved["spanning_tree_a"][1] = saved["spanning_tree_a"][0]
    saved["spanning_tree_b"][1] = saved["spanning_tree_b"][0]


def shorten_tree(state):
    for name in ("spanning_tree_a", "spanning_tree_b", "spanning_tree_weight"):
        state["model"][name] = state["model"][name][:-1]


def swap_two_edges(state):
    weights = state["model"]["spanning_tree_weight"]
    weights[[0, -1]] = weights[[-1, 0]]


def writable(state):
    """The state with writable copies of its arrays."""
    for name, value in state["model"].items():
        if isinstance(value, np.ndarray):
            state["model"][name] = value.copy()
    return state


NAN = float("nan")
CORRUPTIONS = {
    "format": [
        lambda s: s.update(format=0),
        lambda s: s.update(format="1"),
        lambda s: s.update(format=True),
        drop("format"),
    ],
    "state": [lambda s: s.update(unknown=1)],
    "params": [
        drop("params"),
        lambda s: s.update(params=[]),
        lambda s: s["params"].update(min_cluster_size=1),
        lambda s: s["params"].update(metric=3),
        lambda s: s["params"].update(n_jobs=0),
        lambda s: s["params"].update(colour="red"),
    ],
    "n_features_in": [
        lambda s: s.update(n_features_in=-1),
        lambda s: s.update(n_features_in="2"),
        lambda s: s.update(n_features_in=None),  # with a model
    ],
    "attributes": [lambda s: s.update(attributes=[]), lambda s: s.update(attributes={1: 2})],
    "model": [
        lambda s: s.update(model=[]),
        lambda s: s["model"].update(labels=np.zeros(60, np.int32)),
    ],
    "metric": [set_model("metric", "hamming"), set_model("metric", 2), drop("metric", True)],
    "p": [
        lambda s: s["model"].update(metric="minkowski", p=0.5),
        lambda s: s["model"].update(metric="minkowski", p=NAN),
        set_model("p", "2"),
    ],
    "magnitude_shift": [
        set_model("magnitude_shift", 3),
        set_model("magnitude_shift", 2**40),
        set_model("magnitude_shift", 0.0),
    ],
    "training_data": [
        set_model("training_data", lambda v: v.astype(np.float32)),
        set_model("training_data", lambda v: v.astype(np.int64)),
        set_model("training_data", lambda v: v.ravel()),
        set_model("training_data", lambda v: v.tolist()),
        set_model(
            "training_data", lambda v: np.where(np.arange(v.size).reshape(v.shape) == 5, NAN, v)
        ),
        set_model(
            "training_data", lambda v: np.where(np.arange(v.size).reshape(v.shape) == 0, np.inf, v)
        ),
        set_model("training_data", lambda v: v[:0]),
        lambda s: s["model"].update(metric="precomputed"),  # not square
    ],
    "core_distances": [
        set_model("training_data", lambda v: v[:-1]),
        set_model("core_distances", lambda v: v[:-1]),
        set_model("core_distances", lambda v: np.append(v, 1.0)),
        set_model("core_distances", lambda v: np.where(np.arange(v.size) == 3, NAN, v)),
        set_model("core_distances", lambda v: np.where(np.arange(v.size) == 3, -1.0, v)),
        set_model("core_distances", lambda v: np.where(np.arange(v.size) == 3, np.inf, v)),
        set_model("core_distances", lambda v: v.astype(np.float32)),
        set_model("core_distances", lambda v: v[None]),
    ],
    "spanning_tree": [
        set_model("spanning_tree_a", lambda v: v[:-1]),
        shorten_tree,
        make_cycle,
        swap_two_edges,
    ],
    "spanning_tree_a": [
        set_model("spanning_tree_a", lambda v: np.where(np.arange(v.size) == 2, 60, v)),
        set_model("spanning_tree_a", lambda v: np.where(np.arange(v.size) == 2, -1, v)),
        set_model("spanning_tree_a", lambda v: v.astype(np.float64)),
        set_model("spanning_tree_a", lambda v: v.astype(np.int32)),
    ],
    "spanning_tree_b": [
        set_model("spanning_tree_b", lambda v: np.where(np.arange(v.size) == 0, 10**6, v)),
    ],
    "spanning_tree_weight": [
        set_model("spanning_tree_weight", lambda v: np.where(np.arange(v.size) == 4, NAN, v)),
        set_model("spanning_tree_weight", lambda v: v - 10.0),
        set_model("spanning_tree_weight", lambda v: v.astype(np.int64)),
    ],
    "min_samples": [
        set_model("min_samples", 0),
        set_model("min_samples", 61),  # more than the points
        set_model("min_samples", "5"),
    ],
    "alpha": [set_model("alpha", 1)],
    "max_cluster_size": [set_model("max_cluster_size", 4), set_model("max_cluster_size", 9.0)],
    "cluster_selection_epsilon_max": [
        set_model("cluster_selection_epsilon_max", NAN),
        set_model("cluster_selection_epsilon_max", None),
    ],
    "min_cluster_size": [
        set_model("min_cluster_size", 1),
        set_model("min_cluster_size", -1),
        set_model("min_cluster_size", 5.0),
    ],
    "cluster_selection_method": [
        set_model("cluster_selection_method", "best"),
        set_model("cluster_selection_method", 0),
    ],
    "allow_single_cluster": [set_model("allow_single_cluster", 1)],
    "cluster_selection_epsilon": [set_model("cluster_selection_epsilon", 0)],
}


@pytest.mark.parametrize(
    "field,change",
    [(field, change) for field, changes in CORRUPTIONS.items() for change in changes],
)
def test_every_corrupted_field_is_refused_and_changes_nothing(field, change):
    target = HDBSCAN(min_cluster_size=7, n_jobs=1).fit(clustered(11))
    target.mine = True
    before = {name: getattr(target, name) for name in FITTED}
    state = writable(valid_state())
    change(state)
    with pytest.raises(ValueError, match=f"field '{field}'"):
        target.__setstate__(state)
    assert repr(target) == repr(HDBSCAN(min_cluster_size=7, n_jobs=1)) and target.mine
    assert target.n_features_in_ == 2
    for name in FITTED:
        np.testing.assert_array_equal(bits(getattr(target, name)), bits(before[name]))


def test_negative_distances_and_newer_formats_are_refused():
    x = clustered(12, n=40)
    state = writable(HDBSCAN(metric="precomputed").fit(distances(x, x)).__getstate__())
    state["model"]["training_data"][1, 2] = -1.0
    with pytest.raises(ValueError, match="'training_data'"):
        HDBSCAN().__setstate__(state)
    newer = valid_state()
    newer["format"] = 2
    newer["model"] = "a layout this version does not know"
    with pytest.raises(ValueError, match="format version 2, newer"):
        HDBSCAN().__setstate__(newer)
    for state in (None, [], "state", {}):
        with pytest.raises(ValueError, match="Invalid HDBSCAN state"):
            HDBSCAN().__setstate__(state)


def test_a_hand_made_tree_that_is_valid_loads_and_predicts():
    """A state need not come from a fit: any tree that passes the checks gives a model
    whose later calls behave."""
    state = writable(valid_state())
    saved = state["model"]
    n = len(saved["core_distances"])
    saved["spanning_tree_a"] = np.zeros(n - 1, np.int64)  # a star around point 0
    saved["spanning_tree_b"] = np.arange(1, n, dtype=np.int64)
    saved["spanning_tree_weight"] = np.linspace(0.5, 3.0, n - 1)
    model = HDBSCAN()
    model.__setstate__(state)
    assert len(model.labels_) == n and (model.probabilities_ <= 1).all()
    labels, probabilities = model.approximate_predict(clustered(13, n=30))
    assert len(labels) == 30 and ((probabilities >= 0) & (probabilities <= 1)).all()
