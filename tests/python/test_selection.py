"""Cluster selection with the caps max_cluster_size and cluster_selection_epsilon_max,
against the plain transcriptions of hierarchy_reference, and the two parameters'
conversion, checks and text form."""

import itertools

import numpy as np
import pytest
from hierarchy_reference import reference_results
from reference import assert_same_partition

from corvane import HDBSCAN


def ultrametric(seed, n):
    """The minimax path distances of a random tree whose weights are powers of two (and
    now and then 0, duplicates): every lambda, stability and comparison is exact, so
    ties are real ties, and many equal weights make multi-way splits."""
    rng = np.random.default_rng(seed)
    order = rng.permutation(n)
    weights = np.array([0.0, 0.25, 0.5, 1.0, 2.0, 4.0, 8.0])
    chance = np.array([0.5, 2, 2, 2, 2, 1, 1])
    neighbours = [[] for _ in range(n)]
    for i in range(1, n):
        a, b = order[rng.integers(i)], order[i]
        w = rng.choice(weights, p=chance / chance.sum())
        neighbours[a].append((b, w))
        neighbours[b].append((a, w))
    distances = np.zeros((n, n))
    for start in range(n):
        stack = [(start, 0.0)]
        seen = {start}
        while stack:
            node, far = stack.pop()
            distances[start, node] = far
            for other, w in neighbours[node]:
                if other not in seen:
                    seen.add(other)
                    stack.append((other, max(far, w)))
    return distances


def assert_matches_reference(model, expected, context):
    labels, probabilities, scores, persistence = expected
    mapping = assert_same_partition(model.labels_, labels)
    assert len(model.cluster_persistence_) == len(persistence), context
    matched = [mapping.get(k, k) for k in range(len(persistence))]
    assert np.array_equal(model.cluster_persistence_, persistence[matched]), context
    assert np.array_equal(model.probabilities_, probabilities), context
    assert np.array_equal(model.outlier_scores_, scores), context


CAPS = [
    # (max_cluster_size as a share of n, epsilon, epsilon_max)
    (None, 0.0, None),
    (0.3, 0.0, None),
    (None, 0.0, 1.0),
    (0.5, 0.0, 2.0),
    (None, 0.75, None),
    (0.3, 0.75, None),
    (None, 0.75, 2.0),
    (0.2, 3.0, 6.0),
    (None, 2.0, 2.5),
    (0.0, 0.75, None),  # a cap of min_cluster_size: many clusters over it, not barred
    (0.0, 2.0, None),
]


@pytest.mark.parametrize("seed", range(12))
def test_selection_follows_the_definitions_on_random_trees_with_ties(seed):
    n = 12 + 7 * seed
    distances = ultrametric(seed, n)
    for m in (2, 3, 6):
        model = HDBSCAN(min_cluster_size=m, min_samples=1, metric="precomputed").fit(distances)
        for method, single, (share, epsilon, epsilon_max) in itertools.product(
            ("eom", "leaf"), (False, True), CAPS
        ):
            cap = None if share is None else max(m, int(share * n))
            selection = {
                "cluster_selection_method": method,
                "allow_single_cluster": single,
                "cluster_selection_epsilon": epsilon,
                "max_cluster_size": cap,
                "cluster_selection_epsilon_max": epsilon_max,
            }
            model.reselect(**selection)
            expected = reference_results(
                distances,
                m,
                method,
                single,
                epsilon=epsilon,
                max_cluster_size=cap,
                epsilon_max=epsilon_max,
            )
            assert_matches_reference(model, expected, f"seed {seed}, m {m}, {selection}")


def giant(rng):
    """Two touching groups of 200 points and a far group of 40. Uncapped, excess of mass
    (and leaves merged by epsilon 5) select the two touching groups as one cluster of 400
    points, born at about 26; below it each group is a cluster, born at about 1."""
    return np.vstack(
        [
            rng.normal(size=(200, 2)),
            rng.normal(size=(200, 2)) + [4.0, 0.0],
            rng.normal(scale=0.5, size=(40, 2)) + [30.0, 0.0],
        ]
    )


@pytest.mark.parametrize("method", ["eom", "leaf"])
def test_caps_split_a_giant_cluster_where_the_hierarchy_allows(method):
    x = giant(np.random.default_rng(1))
    selection = {"min_cluster_size": 15, "cluster_selection_method": method}
    if method == "leaf":
        selection["cluster_selection_epsilon"] = 5.0
    uncapped = HDBSCAN(**selection).fit(x)
    assert np.bincount(uncapped.labels_ + 1).tolist() == [0, 400, 40]
    # A cap of exactly the giant's size keeps it.
    assert np.array_equal(
        HDBSCAN(**selection, max_cluster_size=400).fit_predict(x), uncapped.labels_
    )

    split = None
    for cap in (
        {"max_cluster_size": 399},
        {"max_cluster_size": 250},
        {"cluster_selection_epsilon_max": 6.0},
    ):
        labels = HDBSCAN(**selection, **cap).fit_predict(x)
        counts = np.bincount(labels + 1)
        assert counts[1:].max() <= 250 and len(counts) == 4, (cap, counts)
        assert np.array_equal(labels[-40:], uncapped.labels_[-40:] * 0 + labels[-1]), cap
        split = labels if split is None else split
        assert np.array_equal(labels, split), cap


def test_clusters_born_exactly_at_epsilon_or_epsilon_max():
    """Groups of five points at distance 1; 1 / (1 / 49) and 1 / (1 / 93) round away
    from 49 and 93, which must not move a cluster born there across either threshold."""

    def groups(*between):
        # Ultrametric: group g is at distance between[g - 1] from every earlier group.
        sizes = 5 * (len(between) + 1)
        distances = np.ones((sizes, sizes))
        for g, far in enumerate(between, start=1):
            distances[5 * g : 5 * g + 5, : 5 * g] = far
            distances[: 5 * g, 5 * g : 5 * g + 5] = far
        np.fill_diagonal(distances, 0.0)
        return distances

    def clusters(distances, **selection):
        model = HDBSCAN(min_cluster_size=3, min_samples=1, metric="precomputed", **selection)
        return len(np.unique(model.fit_predict(distances)))

    # A and B split at 7 out of AB, born at 49 next to C; epsilon 10 merges A and B into AB.
    at_49 = groups(7.0, 49.0)
    assert clusters(at_49, cluster_selection_epsilon=10.0) == 2
    assert clusters(at_49, cluster_selection_epsilon=10.0, cluster_selection_epsilon_max=49.0) == 2
    below_49 = np.nextafter(49.0, 0.0)
    assert (
        clusters(at_49, cluster_selection_epsilon=10.0, cluster_selection_epsilon_max=below_49) == 3
    )
    # A and B born at 93 merge into AB only for an epsilon above 93.
    at_93 = groups(93.0, 200.0)
    for epsilon, count in ((93.0, 3), (np.nextafter(93.0, 100.0), 2)):
        assert (
            clusters(at_93, cluster_selection_method="leaf", cluster_selection_epsilon=epsilon)
            == count
        )


@pytest.mark.parametrize("method", ["eom", "leaf"])
def test_a_cluster_with_nothing_within_the_caps_below_it_is_kept(method):
    x = np.random.default_rng(3).normal(size=(300, 2))
    x = np.vstack([x, x[:100] + 30.0])
    plain = HDBSCAN(min_cluster_size=150, cluster_selection_method=method).fit(x)
    # The one cluster of 300 has no cluster below it: no cap can split it.
    for cap in ({"max_cluster_size": 150}, {"cluster_selection_epsilon_max": 1e-6}):
        capped = HDBSCAN(min_cluster_size=150, cluster_selection_method=method, **cap).fit(x)
        assert np.array_equal(capped.labels_, plain.labels_), cap
        assert np.array_equal(capped.probabilities_, plain.probabilities_), cap


def test_parameters_convert_check_and_print_like_the_others():
    model = HDBSCAN(max_cluster_size=np.int64(40), cluster_selection_epsilon_max=np.float32(0.5))
    assert repr(model).endswith(
        "allow_single_cluster=false, max_cluster_size=40, cluster_selection_epsilon_max=0.5)"
    )
    assert repr(HDBSCAN(n_jobs=2, cluster_selection_epsilon_max=float("inf"))).endswith(
        "n_jobs=2, cluster_selection_epsilon_max=inf)"
    )
    assert "max" not in repr(HDBSCAN(max_cluster_size=None, cluster_selection_epsilon_max=None))

    for kwargs, name in (
        ({"max_cluster_size": 40.0}, "max_cluster_size"),
        ({"max_cluster_size": "40"}, "max_cluster_size"),
        ({"cluster_selection_epsilon_max": "1"}, "cluster_selection_epsilon_max"),
    ):
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            HDBSCAN(**kwargs)
    with pytest.raises(OverflowError):
        HDBSCAN(max_cluster_size=-1)
    with pytest.raises(TypeError):
        HDBSCAN(5, None, "euclidean", None, 1.0, 0.0, "eom", False, None, 10)  # keyword-only

    relations = [
        ({"max_cluster_size": 4}, "max_cluster_size must be at least min_cluster_size (5), got 4"),
        (
            {"min_cluster_size": 12, "max_cluster_size": 0},
            "max_cluster_size must be at least min_cluster_size (12), got 0",
        ),
        (
            {"cluster_selection_epsilon_max": 0.0},
            "cluster_selection_epsilon_max must be greater than cluster_selection_epsilon (0), "
            "got 0",
        ),
        (
            {"cluster_selection_epsilon": 0.5, "cluster_selection_epsilon_max": 0.25},
            "cluster_selection_epsilon_max must be greater than cluster_selection_epsilon (0.5), "
            "got 0.25",
        ),
        (
            {"cluster_selection_epsilon_max": float("nan")},
            "cluster_selection_epsilon_max must be greater than cluster_selection_epsilon (0), "
            "got NaN",
        ),
    ]
    for kwargs, message in relations:
        with pytest.raises(ValueError) as raised:
            HDBSCAN(**kwargs)
        assert str(raised.value) == message
    # The other numbers are checked first; set_params checks the relations of the whole set.
    with pytest.raises(ValueError, match="^min_cluster_size must be at least 2"):
        HDBSCAN(min_cluster_size=1, max_cluster_size=0)
    HDBSCAN(max_cluster_size=5, cluster_selection_epsilon=-1.0, cluster_selection_epsilon_max=-0.5)
    model = HDBSCAN(max_cluster_size=20)
    with pytest.raises(ValueError, match=r"^max_cluster_size must be at least min_cluster_size"):
        model.set_params(min_cluster_size=30)
    assert model.set_params(min_cluster_size=30, max_cluster_size=None).min_cluster_size == 30


@pytest.mark.parametrize("scale", [2.0**600, 2.0**-600])
def test_epsilon_max_is_in_the_units_of_the_data_at_any_magnitude(scale):
    x = giant(np.random.default_rng(1))
    for kwargs in (
        {"cluster_selection_epsilon_max": 6.0},
        {"cluster_selection_epsilon": 0.3, "cluster_selection_epsilon_max": 6.0},
    ):
        plain = HDBSCAN(min_cluster_size=15, **kwargs).fit(x)
        scaled = {name: value * scale for name, value in kwargs.items()}
        model = HDBSCAN(min_cluster_size=15, **scaled).fit(x * scale)
        assert len(np.unique(plain.labels_)) == 4, kwargs
        assert np.array_equal(model.labels_, plain.labels_), kwargs
        assert np.array_equal(model.cluster_persistence_, plain.cluster_persistence_ * scale)
