"""Fuzz target for corvane's Python surface (atheris).

Builds HDBSCAN objects from arbitrary constructor arguments, feeds them arrays
of any dtype, shape, strides and values, changes their parameters, loads
states with fields replaced, cut, cast or poked, and calls the methods and
attributes in any order. Documented exceptions are fine;
anything else (the internal error, a crash, a wrong result type) is a finding.

    scripts/fuzz.sh 600    # with the C++ code instrumented for coverage
"""

import sys

import atheris

with atheris.instrument_imports():
    import numpy as np

    import corvane

np.seterr(all="ignore")
EXPECTED = (TypeError, ValueError, OverflowError, MemoryError)
METRICS = [
    "euclidean",
    "manhattan",
    "cityblock",
    "l1",
    "cosine",
    "minkowski",
    "precomputed",
    "bogus",
    "",
]
DTYPES = [np.float64, np.float32, ">f8", np.int64, np.float16, bool, np.complex128, object]
RESELECTABLE = {
    "min_cluster_size",
    "cluster_selection_method",
    "cluster_selection_epsilon",
    "cluster_selection_epsilon_max",
    "max_cluster_size",
    "allow_single_cluster",
}
SPECIAL = [0.0, -0.0, 1.0, -1.0, np.nan, np.inf, -np.inf, 1e300, 1e-300, 5e-324, 1e154]


@atheris.instrument_func
def any_value(fdp):
    kind = fdp.ConsumeIntInRange(0, 7)
    if kind == 0:
        return None
    if kind == 1:
        return fdp.ConsumeIntInRange(-3, 70)
    if kind == 2:
        return fdp.ConsumeRegularFloat()
    if kind == 3:
        return SPECIAL[fdp.ConsumeIntInRange(0, len(SPECIAL) - 1)]
    if kind == 4:
        return METRICS[fdp.ConsumeIntInRange(0, len(METRICS) - 1)]
    if kind == 5:
        return fdp.ConsumeBool()
    if kind == 6:
        return np.bool_(fdp.ConsumeBool())
    return fdp.ConsumeUnicodeNoSurrogates(8)


@atheris.instrument_func
def make_model(fdp):
    return corvane.HDBSCAN(**make_model_kwargs(fdp))


@atheris.instrument_func
def make_model_kwargs(fdp):
    kwargs = {}
    defaults = {
        "min_cluster_size": lambda: fdp.ConsumeIntInRange(2, 12),
        "min_samples": lambda: fdp.ConsumeIntInRange(1, 12),
        "metric": lambda: METRICS[fdp.ConsumeIntInRange(0, 6)],
        "p": lambda: fdp.ConsumeFloatInRange(1.0, 6.0),
        "alpha": lambda: fdp.ConsumeFloatInRange(0.1, 3.0),
        "cluster_selection_epsilon": lambda: fdp.ConsumeFloatInRange(0.0, 3.0),
        "cluster_selection_method": lambda: ["eom", "leaf"][fdp.ConsumeIntInRange(0, 1)],
        "allow_single_cluster": lambda: fdp.ConsumeBool(),
        "n_jobs": lambda: [None, -1, 1, 2, 3][fdp.ConsumeIntInRange(0, 4)],
        "max_cluster_size": lambda: fdp.ConsumeIntInRange(2, 48),
        "cluster_selection_epsilon_max": lambda: fdp.ConsumeFloatInRange(0.0, 6.0),
    }
    for name, plausible in defaults.items():
        choice = fdp.ConsumeIntInRange(0, 9)
        if choice < 6:
            kwargs[name] = plausible()
        elif choice < 8:
            kwargs[name] = any_value(fdp)
    return kwargs


@atheris.instrument_func
def make_array(fdp):
    rows = fdp.ConsumeIntInRange(0, 48)
    cols = fdp.ConsumeIntInRange(0, 6)
    if fdp.ConsumeIntInRange(0, 9) == 0:
        return [[fdp.ConsumeRegularFloat()] * cols] * rows  # not an array
    values = np.array(
        [
            fdp.ConsumeRegularFloat()
            if fdp.ConsumeIntInRange(0, 6)
            else SPECIAL[fdp.ConsumeIntInRange(0, len(SPECIAL) - 1)]
            for _ in range(rows * cols)
        ],
        dtype=np.float64,
    ).reshape(rows, cols)
    if fdp.ConsumeIntInRange(0, 3) == 0:
        values = np.round(values % 4.0)  # many duplicates and ties
    dtype = DTYPES[fdp.ConsumeIntInRange(0, len(DTYPES) - 1)] if fdp.ConsumeBool() else np.float64
    try:
        array = values.astype(dtype)
    except (OverflowError, ValueError):
        array = values
    layout = fdp.ConsumeIntInRange(0, 5)
    if layout == 1:
        array = np.asfortranarray(array)
    elif layout == 2:
        array = array[::-1, ::-1]
    elif layout == 3:
        array = np.repeat(array, 2, axis=1)[:, ::2]
    elif layout == 4:
        array = array.reshape(-1) if array.size else array.reshape(0)
    elif layout == 5:
        array = array[None]
    return array


@atheris.instrument_func
def check_result(model, n):
    labels = model.labels_
    assert labels.dtype == np.int32 and labels.shape == (n,)
    probabilities = model.probabilities_
    scores = model.outlier_scores_
    assert not np.isnan(probabilities).any() and not np.isnan(scores).any()
    assert ((probabilities >= 0) & (probabilities <= 1)).all()
    assert ((scores >= 0) & (scores <= 1)).all()
    assert (model.cluster_persistence_ >= 0).all()
    used = sorted(set(labels.tolist()) - {-1})
    assert used == list(range(len(used)))


@atheris.instrument_func
def any_field_value(fdp, value):
    """`value` changed the way a corrupt or hand-made state might change it."""
    kind = fdp.ConsumeIntInRange(0, 6)
    if kind == 0 or not isinstance(value, np.ndarray):
        return any_value(fdp) if kind < 4 else make_array(fdp)
    if kind == 1 and value.size:  # poke one value
        value = value.copy()
        flat = value.reshape(-1)
        index = fdp.ConsumeIntInRange(0, flat.size - 1)
        flat[index] = any_value(fdp) if value.dtype.kind == "f" else fdp.ConsumeIntInRange(-2, 70)
        return value
    if kind == 2:  # cut
        return value[: fdp.ConsumeIntInRange(0, len(value))]
    if kind == 3:
        return value.astype(DTYPES[fdp.ConsumeIntInRange(0, 4)])
    if kind == 4:
        return value[::-1]
    if kind == 5:
        return np.ascontiguousarray(value.T)
    return value.reshape(-1)


@atheris.instrument_func
def load_state(fdp, model):
    """A state taken from `model`, some of its fields changed, loaded into a new object:
    refused with ValueError, or an object whose later calls behave."""
    state = model.__getstate__()
    for _ in range(fdp.ConsumeIntInRange(0, 3)):
        inner = (
            state["model"] if isinstance(state.get("model"), dict) and fdp.ConsumeBool() else state
        )
        names = sorted(inner) + ["unknown"]
        name = names[fdp.ConsumeIntInRange(0, len(names) - 1)]
        if fdp.ConsumeIntInRange(0, 7) == 0:
            inner.pop(name, None)
        else:
            inner[name] = any_field_value(fdp, inner.get(name))
    loaded = corvane.HDBSCAN()
    try:
        loaded.__setstate__(state)
    except (ValueError, MemoryError):
        return
    repr(loaded)
    loaded.get_params()
    if loaded.__sklearn_is_fitted__():
        check_result(loaded, len(loaded.labels_))
        x = make_array(fdp)
        try:
            labels, probabilities = loaded.approximate_predict(x)
        except EXPECTED:
            return
        assert ((probabilities >= 0) & (probabilities <= 1)).all()


@atheris.instrument_func
def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    try:
        model = make_model(fdp)
    except EXPECTED:
        return
    repr(model)
    for _ in range(fdp.ConsumeIntInRange(1, 4)):
        action = fdp.ConsumeIntInRange(0, 9)
        try:
            if action == 0:
                x = make_array(fdp)
                model.fit(x)
                check_result(model, len(x))
            elif action == 1:
                x = make_array(fdp)
                labels = model.fit_predict(x)
                assert np.array_equal(labels, model.labels_)
            elif action == 4:
                before = model.get_params()
                try:
                    assert model.set_params(**make_model_kwargs(fdp)) is model
                except EXPECTED:
                    assert model.get_params() == before  # a refused change changes nothing
            elif action == 6:
                before = model.get_params()
                labels = model.labels_  # ValueError before a fit
                change = {k: v for k, v in make_model_kwargs(fdp).items() if k in RESELECTABLE}
                try:
                    assert model.reselect(**change) is model
                    check_result(model, len(model.labels_))
                except EXPECTED:
                    assert model.get_params() == before  # a refused change changes nothing
                    assert np.array_equal(model.labels_, labels)
            elif action == 5:
                copy = corvane.HDBSCAN(**model.get_params())
                assert repr(copy) == repr(model)
            elif action == 7:
                load_state(fdp, model)
            elif action == 8:
                x = make_array(fdp)
                top_k = fdp.ConsumeIntInRange(-1, 4)
                vectors = model.membership_vectors(x, top_k=None if top_k < 0 else top_k)
                scores = model.approximate_outlier_scores(x)
                assert len(scores) == len(x) and ((scores >= 0) & (scores <= 1)).all()
                if top_k < 0:
                    assert vectors.shape[0] == len(x)
                    assert ((vectors >= 0) & (vectors.sum(axis=1) <= 1 + 1e-9)).all()
            elif action == 9:
                model.all_points_membership_vectors()
                model.dbscan_clustering(fdp.ConsumeFloat(), fdp.ConsumeIntInRange(0, 20))
                model.cluster_centroids()
                model.cluster_medoids()
            elif action == 2:
                x = make_array(fdp)
                labels, probabilities = model.approximate_predict(x)
                assert labels.dtype == np.int32 and probabilities.dtype == np.float64
                assert len(labels) == len(probabilities) == len(x)
                assert ((probabilities >= 0) & (probabilities <= 1)).all()
            else:
                for name in (
                    "labels_",
                    "probabilities_",
                    "outlier_scores_",
                    "cluster_persistence_",
                    "n_features_in_",
                    "condensed_tree_",
                    "single_linkage_tree_",
                    "minimum_spanning_tree_",
                    "core_distances_",
                    "exemplars_",
                ):
                    getattr(model, name)
        except EXPECTED:
            pass


def main():
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
