"""The HDBSCAN constructor: binding, conversion, validation order, text form."""

import inspect
import math

import numpy as np
import pytest

from corvane import HDBSCAN

DEFAULT_TEXT = (
    "HDBSCAN(min_cluster_size=5, min_samples=None, metric='euclidean', alpha=1, "
    "cluster_selection_epsilon=0, cluster_selection_method='eom', allow_single_cluster=false)"
)
UNKNOWN_METRIC = (
    "Unknown metric: '{}'. Expected one of: euclidean, manhattan, cosine, minkowski, precomputed"
)


def test_default_text_form():
    assert repr(HDBSCAN()) == DEFAULT_TEXT
    assert str(HDBSCAN()) == DEFAULT_TEXT


def test_text_form_keeps_arguments_verbatim():
    model = HDBSCAN(7, 3, "l1", 0.5, 1e-7, 0.25, "leaf", True)
    assert repr(model) == (
        "HDBSCAN(min_cluster_size=7, min_samples=3, metric='l1', alpha=0.0000001, "
        "cluster_selection_epsilon=0.25, cluster_selection_method='leaf', "
        "allow_single_cluster=true)"
    )


@pytest.mark.parametrize(
    ("value", "text"),
    [
        (1.0, "1"),
        (0.0, "0"),
        (0.5, "0.5"),
        (-3.0, "-3"),
        (1e-7, "0.0000001"),
        (0.1, "0.1"),
        (1e22, "10000000000000000000000"),
        (float("nan"), "NaN"),
        (float("inf"), "inf"),
        (float("-inf"), "-inf"),
    ],
)
def test_float_text_in_repr(value, text):
    model = HDBSCAN(alpha=value, cluster_selection_epsilon=value)
    assert f"alpha={text}, cluster_selection_epsilon={text}," in repr(model)


def test_signature_and_docstrings():
    assert HDBSCAN.__text_signature__ == (
        '(min_cluster_size=5, min_samples=None, metric="euclidean", p=None, alpha=1.0, '
        'cluster_selection_epsilon=0.0, cluster_selection_method="eom", '
        "allow_single_cluster=False, *, n_jobs=None, max_cluster_size=None, "
        "cluster_selection_epsilon_max=None)"
    )
    parameters = inspect.signature(HDBSCAN).parameters
    for name in ("n_jobs", "max_cluster_size", "cluster_selection_epsilon_max"):
        assert parameters[name].kind is inspect.Parameter.KEYWORD_ONLY
    assert list(parameters) == [
        "min_cluster_size",
        "min_samples",
        "metric",
        "p",
        "alpha",
        "cluster_selection_epsilon",
        "cluster_selection_method",
        "allow_single_cluster",
        "n_jobs",
        "max_cluster_size",
        "cluster_selection_epsilon_max",
    ]
    paragraphs = HDBSCAN.__doc__.split("\n\n")
    assert paragraphs[0] == "HDBSCAN clustering algorithm."
    assert "high-performance native implementation" in paragraphs[1]
    docs = {
        "labels_": "Cluster labels after fitting. -1 indicates noise.",
        "probabilities_": "Membership probabilities after fitting.",
        "outlier_scores_": "GLOSH outlier scores after fitting.",
        "cluster_persistence_": "Cluster persistence values after fitting.",
        "n_features_in_": "Number of features seen during fit.",
    }
    for name, doc in docs.items():
        assert getattr(HDBSCAN, name).__doc__ == doc


def test_all_parameters_by_keyword_and_position():
    by_keyword = HDBSCAN(
        min_cluster_size=4,
        min_samples=2,
        metric="minkowski",
        p=3,
        alpha=2.0,
        cluster_selection_epsilon=0.5,
        cluster_selection_method="leaf",
        allow_single_cluster=False,
    )
    by_position = HDBSCAN(4, 2, "minkowski", 3, 2.0, 0.5, "leaf", False)
    assert repr(by_keyword) == repr(by_position)


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        ((5, None, "euclidean", None, 1.0, 0.0, "eom", False, 9), {}),
        ((), {"min_cluster_sizes": 5}),
        ((5,), {"min_cluster_size": 5}),
        ((), {"X": 1}),
    ],
)
def test_binding_errors_are_type_errors(args, kwargs):
    with pytest.raises(TypeError):
        HDBSCAN(*args, **kwargs)


class Indexable:
    def __index__(self):
        return 6


class Floatable:
    def __float__(self):
        return 0.75


def test_integer_like_and_float_like_values():
    model = HDBSCAN(min_cluster_size=Indexable(), min_samples=np.int64(2), alpha=Floatable())
    assert repr(model).startswith("HDBSCAN(min_cluster_size=6, min_samples=2,")
    assert "alpha=0.75," in repr(model)
    assert "alpha=3," in repr(HDBSCAN(alpha=3))
    assert "cluster_selection_epsilon=0.5," in repr(
        HDBSCAN(cluster_selection_epsilon=np.float32(0.5))
    )


@pytest.mark.parametrize(
    ("kwargs", "name"),
    [
        ({"min_cluster_size": 5.0}, "min_cluster_size"),
        ({"min_cluster_size": "5"}, "min_cluster_size"),
        ({"min_samples": 2.5}, "min_samples"),
        ({"metric": 3}, "metric"),
        ({"metric": None}, "metric"),
        ({"p": "2"}, "p"),
        ({"alpha": None}, "alpha"),
        ({"alpha": "1"}, "alpha"),
        ({"cluster_selection_epsilon": None}, "cluster_selection_epsilon"),
        ({"cluster_selection_method": b"eom"}, "cluster_selection_method"),
        ({"allow_single_cluster": 1}, "allow_single_cluster"),
        ({"allow_single_cluster": None}, "allow_single_cluster"),
        ({"allow_single_cluster": np.int8(1)}, "allow_single_cluster"),
    ],
)
def test_wrong_types_name_the_argument(kwargs, name):
    with pytest.raises(TypeError) as info:
        HDBSCAN(**kwargs)
    assert str(info.value).startswith(f"argument '{name}': ")


@pytest.mark.parametrize(
    "kwargs",
    [{"min_cluster_size": -1}, {"min_cluster_size": 2**64}, {"min_samples": -5}],
)
def test_out_of_range_counts_are_overflow_errors(kwargs):
    with pytest.raises(OverflowError):
        HDBSCAN(**kwargs)


def test_largest_count_is_accepted():
    assert "min_cluster_size=18446744073709551615," in repr(HDBSCAN(min_cluster_size=2**64 - 1))


@pytest.mark.parametrize("text", ["L1", "Euclidean", "l2", "", "euclidean ", "euclidean\0"])
def test_unknown_metric(text):
    with pytest.raises(ValueError) as info:
        HDBSCAN(metric=text)
    assert str(info.value) == UNKNOWN_METRIC.format(text)


@pytest.mark.parametrize("text", ["EOM", "Leaf", "excess_of_mass"])
def test_unknown_selection_method(text):
    with pytest.raises(ValueError) as info:
        HDBSCAN(cluster_selection_method=text)
    assert str(info.value) == (
        f"Unknown cluster_selection_method: '{text}'. Expected 'eom' or 'leaf'"
    )


@pytest.mark.parametrize(
    "text", ["euclidean", "manhattan", "cityblock", "l1", "cosine", "minkowski", "precomputed"]
)
def test_metric_names(text):
    assert f"metric='{text}'" in repr(HDBSCAN(metric=text))


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"min_cluster_size": 1}, "min_cluster_size must be at least 2, got 1"),
        ({"min_cluster_size": 0}, "min_cluster_size must be at least 2, got 0"),
        ({"min_samples": 0}, "min_samples must be at least 1, got 0"),
        ({"metric": "minkowski", "p": 0.5}, "Minkowski p must be >= 1.0, got 0.5"),
        ({"metric": "minkowski", "p": 0.25}, "Minkowski p must be >= 1.0, got 0.25"),
        ({"metric": "minkowski", "p": float("nan")}, "Minkowski p must be >= 1.0, got NaN"),
        ({"metric": "minkowski", "p": float("-inf")}, "Minkowski p must be >= 1.0, got -inf"),
        ({"metric": "minkowski", "p": -2}, "Minkowski p must be >= 1.0, got -2"),
        ({"metric": "minkowski", "p": 1e-7}, "Minkowski p must be >= 1.0, got 0.0000001"),
    ],
)
def test_numeric_validation_messages(kwargs, message):
    with pytest.raises(ValueError) as info:
        HDBSCAN(**kwargs)
    assert str(info.value) == message
    assert type(info.value) is ValueError


def test_order_of_checks():
    # Conversion of every argument comes before the texts, texts before numbers.
    with pytest.raises(TypeError):
        HDBSCAN(min_cluster_size=1, metric="bogus", allow_single_cluster=1)
    with pytest.raises(ValueError, match="^Unknown metric"):
        HDBSCAN(min_cluster_size=1, metric="bogus", cluster_selection_method="bogus")
    with pytest.raises(ValueError, match="^Unknown cluster_selection_method"):
        HDBSCAN(min_cluster_size=1, cluster_selection_method="bogus")
    with pytest.raises(ValueError, match="^min_cluster_size"):
        HDBSCAN(min_cluster_size=1, min_samples=0, metric="minkowski", p=0.5)
    with pytest.raises(ValueError, match="^min_samples"):
        HDBSCAN(min_samples=0, metric="minkowski", p=0.5)
    with pytest.raises(OverflowError):
        HDBSCAN(min_cluster_size=-1, metric="bogus")


def test_p_is_ignored_outside_minkowski():
    assert "metric='euclidean'" in repr(HDBSCAN(metric="euclidean", p=0.5))
    assert "metric='minkowski'" in repr(HDBSCAN(metric="minkowski", p=math.inf))
    assert "metric='minkowski'" in repr(HDBSCAN(metric="minkowski"))


def test_alpha_and_epsilon_are_never_validated():
    HDBSCAN(alpha=-3.0, cluster_selection_epsilon=-1.0)
    HDBSCAN(alpha=float("nan"), cluster_selection_epsilon=float("inf"))


def test_numpy_boolean_scalars():
    assert repr(HDBSCAN(allow_single_cluster=np.True_)).endswith("allow_single_cluster=true)")
    assert repr(HDBSCAN(allow_single_cluster=np.bool_(False))).endswith(
        "allow_single_cluster=false)"
    )


@pytest.mark.parametrize(
    "name",
    ["labels_", "probabilities_", "outlier_scores_", "cluster_persistence_", "n_features_in_"],
)
def test_unfitted_attributes(name):
    with pytest.raises(ValueError) as info:
        getattr(HDBSCAN(), name)
    assert str(info.value) == "Model has not been fitted yet"


def test_parameters_and_fitted_attributes_are_read_only():
    model = HDBSCAN()
    with pytest.raises(AttributeError):
        model.labels_ = np.zeros(3, dtype=np.int32)
    with pytest.raises(AttributeError):
        model.min_cluster_size = 3
    with pytest.raises(AttributeError):
        model.n_jobs = 2
    # Other attributes land in the instance dictionary (meta-estimators set their own).
    assert model.__dict__ == {}
    model._private = 1
    assert model.__dict__ == {"_private": 1}
    assert model.min_cluster_size == 5
