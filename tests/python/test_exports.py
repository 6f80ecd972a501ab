"""The fitted hierarchy as arrays, DBSCAN* cuts, exemplars and cluster centres, each checked
against an independent recomputation."""

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from reference import COORDINATE_METRICS, blobs, pairwise
from scipy.cluster.hierarchy import cut_tree, dendrogram, fcluster, is_valid_linkage
from test_properties import fit_cases

from corvane import HDBSCAN

METRICS = [*COORDINATE_METRICS, ("precomputed", None)]


def grid_with_duplicates(seed=3):
    """Integer points, many repeated: exact ties in every distance and zero distances."""
    rng = np.random.default_rng(seed)
    centres = np.array([[12, 0], [0, 12], [-12, 0], [0, -12]])
    points = centres[rng.integers(0, 4, 160)] + rng.integers(-2, 3, size=(160, 2))
    return np.vstack([points, rng.integers(-14, 15, size=(20, 2))]).astype(np.float64)


def fitted(data, metric="euclidean", p=None, **params):
    """A model of the points under `metric` (Euclidean distances handed in as a matrix for
    precomputed) and the distances it measures."""
    if metric == "precomputed":
        distances = pairwise(data)
        return HDBSCAN(metric=metric, **params).fit(distances), distances
    return HDBSCAN(metric=metric, p=p, **params).fit(data), pairwise(data, metric, p)


def first_appearance(labels):
    """Relabels parts 0, 1, ... in order of their lowest row, keeping -1."""
    mapping = {}
    for label in labels.tolist():
        if label != -1 and label not in mapping:
            mapping[label] = len(mapping)
    return np.array([mapping.get(label, -1) for label in labels.tolist()], dtype=np.int32)


# -- trees as arrays --------------------------------------------------------------------------


def linkage_by_union_find(spanning_tree, n):
    """SciPy linkage rows from spanning-tree edges taken in order: a plain union-find."""
    parent = list(range(n))
    node = list(range(n))
    size = [1] * n

    def find(x):
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    rows = []
    for a, b, distance in spanning_tree.tolist():
        ra, rb = find(int(a)), find(int(b))
        assert ra != rb, "a spanning tree closes no cycle"
        rows.append((node[ra], node[rb], distance, size[ra] + size[rb]))
        parent[rb] = ra
        size[ra] += size[rb]
        node[ra] = n + len(rows) - 1
    return rows


@pytest.mark.parametrize(("metric", "p"), METRICS)
@pytest.mark.parametrize("make_data", [lambda: blobs(300, 3, seed=5), grid_with_duplicates])
def test_single_linkage_tree_is_the_spanning_tree_joined_in_order(metric, p, make_data):
    data = make_data()
    model, _ = fitted(data, metric, p, min_cluster_size=6)
    n = len(data)
    tree = model.minimum_spanning_tree_
    linkage = model.single_linkage_tree_
    assert tree.shape == (n - 1, 3) and linkage.shape == (n - 1, 4)
    assert tree.dtype == linkage.dtype == np.float64
    assert np.all(np.diff(tree[:, 2]) >= 0), "sorted by distance"
    assert is_valid_linkage(linkage)
    rebuilt = linkage_by_union_find(tree, n)
    assert [frozenset(row[:2]) for row in rebuilt] == [frozenset(r) for r in linkage[:, :2]]
    assert [list(row[2:]) for row in rebuilt] == linkage[:, 2:].tolist()
    # Every edge weight is a mutual-reachability distance: at least both core distances.
    core = model.core_distances_
    ends = tree[:, :2].astype(np.int64)
    assert np.all(tree[:, 2] >= np.maximum(core[ends[:, 0]], core[ends[:, 1]]))


def test_core_distances_are_the_distance_to_the_kth_neighbour():
    data = grid_with_duplicates()
    for k in (1, 4, 9):
        model = HDBSCAN(min_cluster_size=5, min_samples=k).fit(data)
        expected = np.sort(pairwise(data), axis=1)[:, k - 1]
        assert np.array_equal(model.core_distances_, expected)


def test_scipy_reads_the_linkage_with_ties_and_duplicates():
    data = grid_with_duplicates()
    model = HDBSCAN(min_cluster_size=8, min_samples=2).fit(data)
    linkage = model.single_linkage_tree_
    assert (linkage[:, 2] == 0).any() and len(np.unique(linkage[:, 2])) < len(linkage)
    assert len(dendrogram(linkage, truncate_mode="lastp", p=12, no_plot=True)["ivl"]) == 12
    cut = cut_tree(linkage, height=[1.5])[:, 0]
    assert len(np.unique(cut)) == len(np.unique(fcluster(linkage, 1.5, "distance")))


def components_above(tree, n, lam):
    """Labels of the parts that spanning-tree edges of lambda (1 / distance) above lam join."""
    parent = np.arange(n)

    def find(x):
        while parent[x] != x:
            x = parent[x]
        return x

    with np.errstate(divide="ignore"):
        joining = 1.0 / tree[:, 2] > lam
    for a, b in tree[joining, :2].astype(np.int64).tolist():
        parent[find(a)] = find(b)
    return np.array([find(x) for x in range(n)])


@pytest.mark.parametrize("make_data", [lambda: blobs(250, 2, seed=9), grid_with_duplicates])
@pytest.mark.parametrize("min_cluster_size", [4, 10])
def test_condensed_tree_agrees_with_the_single_linkage_tree(make_data, min_cluster_size):
    data = make_data()
    n = len(data)
    model = HDBSCAN(min_cluster_size=min_cluster_size).fit(data)
    tree = model.condensed_tree_
    assert tree.dtype.names == ("parent", "child", "lambda_val", "child_size")
    assert [tree.dtype[i] for i in range(4)] == [np.dtype(np.int64)] * 2 + [
        np.dtype(np.float64),
        np.dtype(np.int64),
    ]
    assert tree["parent"].min() == n
    spanning = model.minimum_spanning_tree_

    # Each point leaves at its first merge: 1 / its shortest spanning-tree edge.
    points = tree[tree["child"] < n]
    assert sorted(points["child"].tolist()) == list(range(n))
    assert np.all(points["child_size"] == 1)
    shortest = np.full(n, np.inf)
    for a, b, weight in spanning.tolist():
        for end in (int(a), int(b)):
            shortest[end] = min(shortest[end], weight)
    with np.errstate(divide="ignore"):
        assert np.array_equal(points["lambda_val"], 1.0 / shortest[points["child"]])

    # Each cluster is a part that the merges below its birth level form.
    clusters = tree[tree["child"] >= n]
    members = {int(c): set() for c in np.unique(tree["parent"])}
    for row in points:
        members[int(row["parent"])].add(int(row["child"]))
    for row in clusters[np.argsort(-clusters["child"])]:  # children before parents
        members[int(row["parent"])].update(members[int(row["child"])])
    for row in clusters:
        child = int(row["child"])
        assert row["child_size"] == len(members[child]) >= min_cluster_size
        parts = components_above(spanning, n, row["lambda_val"])
        member_list = sorted(members[child])
        assert set(np.flatnonzero(parts == parts[member_list[0]])) == members[child]


def recompute_from_condensed_tree(tree, n, method, allow_single_cluster):
    """Selection, labels, probabilities and GLOSH scores from the condensed tree alone."""
    clusters = sorted({int(c) for c in tree["parent"]} | {int(c) for c in tree["child"] if c >= n})
    root = n
    birth = {root: 0.0}
    parent_of, children, point_lambda, point_parent = {}, {c: [] for c in clusters}, {}, {}
    for parent, child, lam, _ in tree.tolist():
        if child >= n:
            birth[child], parent_of[child] = lam, parent
            children[parent].append(child)
        else:
            point_lambda[child], point_parent[child] = lam, parent

    if method == "leaf":
        selected = {c for c in clusters if not children[c]}
    else:
        stability = dict.fromkeys(clusters, 0.0)
        for parent, _, lam, size in tree.tolist():
            span = lam - birth[parent] if lam > birth[parent] else 0.0
            stability[parent] += span * size
        selected = set()
        for c in sorted(clusters, reverse=True):
            if c == root and not allow_single_cluster:
                continue
            sub = sum(stability[ch] for ch in children[c])
            if not children[c] or sub <= stability[c]:
                selected.add(c)
                stack = list(children[c])
                while stack:
                    below = stack.pop()
                    selected.discard(below)
                    stack.extend(children[below])
            else:
                stability[c] = sub
    order = sorted(selected)

    def owner(c):
        while c not in selected and c != root:
            c = parent_of[c]
        return c if c in selected else None

    deepest = dict.fromkeys(clusters, 0.0)  # finite point lambdas under each selected cluster
    for p, lam in point_lambda.items():
        c = owner(point_parent[p])
        if c is not None and np.isfinite(lam):
            deepest[c] = max(deepest[c], lam)
    threshold = max(lam for parent, _, lam, _ in tree.tolist() if parent == root)
    labels = np.full(n, -1, dtype=np.int32)
    probabilities = np.zeros(n)
    for p in range(n):
        c = owner(point_parent[p])
        if c is None or (c == root and (not allow_single_cluster or point_lambda[p] < threshold)):
            continue
        labels[p] = order.index(c)
        b = 0.0 if np.isinf(birth[c]) else birth[c]
        span = deepest[c] - b
        probabilities[p] = (
            min(1.0, max(0.0, (point_lambda[p] - b) / span))
            if np.isfinite(span) and span > 0
            else 1.0
        )

    subtree_deepest = dict.fromkeys(clusters, 0.0)
    for p, lam in point_lambda.items():
        if np.isfinite(lam):
            subtree_deepest[point_parent[p]] = max(subtree_deepest[point_parent[p]], lam)
    for c in sorted(clusters, reverse=True):
        if c != root:
            up = parent_of[c]
            subtree_deepest[up] = max(subtree_deepest[up], subtree_deepest[c])
    scores = np.zeros(n)
    for p, lam in point_lambda.items():
        m = subtree_deepest[point_parent[p]]
        if np.isfinite(m) and m > 0:
            scores[p] = min(1.0, max(0.0, (m - lam) / m))
    return labels, probabilities, scores


@pytest.mark.parametrize(("metric", "p"), METRICS)
@pytest.mark.parametrize("method", ["eom", "leaf"])
@pytest.mark.parametrize("allow_single_cluster", [False, True])
def test_results_follow_from_the_condensed_tree_alone(metric, p, method, allow_single_cluster):
    for data in (blobs(240, 2, seed=2), grid_with_duplicates()):
        model, _ = fitted(
            data,
            metric,
            p,
            min_cluster_size=7,
            cluster_selection_method=method,
            allow_single_cluster=allow_single_cluster,
        )
        labels, probabilities, scores = recompute_from_condensed_tree(
            model.condensed_tree_, len(data), method, allow_single_cluster
        )
        assert np.array_equal(model.labels_, labels)
        assert np.array_equal(model.probabilities_, probabilities)
        assert np.array_equal(model.outlier_scores_, scores)


# -- units -------------------------------------------------------------------------------------


@pytest.mark.parametrize("metric", ["euclidean", "manhattan", "cosine"])
@pytest.mark.parametrize("exponent", [600, -600])
def test_distances_are_in_the_units_of_the_data(metric, exponent):
    data = blobs(400, 3, seed=7)
    factor = 2.0**exponent
    plain = HDBSCAN(metric=metric, min_cluster_size=8).fit(data)
    scaled = HDBSCAN(metric=metric, min_cluster_size=8).fit(data * factor)
    unit = 1.0 if metric == "cosine" else factor
    assert np.array_equal(scaled.core_distances_, plain.core_distances_ * unit)
    for name in ("single_linkage_tree_", "minimum_spanning_tree_"):
        expected = getattr(plain, name)
        expected[:, 2] *= unit
        assert np.array_equal(getattr(scaled, name), expected)
    expected = plain.condensed_tree_
    expected["lambda_val"] /= unit
    assert np.array_equal(scaled.condensed_tree_, expected)
    assert np.array_equal(scaled.cluster_centroids(), plain.cluster_centroids() * factor)
    assert np.array_equal(scaled.cluster_medoids(), plain.cluster_medoids())
    cut = float(np.median(plain.minimum_spanning_tree_[:, 2]))
    assert np.array_equal(scaled.dbscan_clustering(cut * unit, 3), plain.dbscan_clustering(cut, 3))


# -- DBSCAN* cuts ------------------------------------------------------------------------------


@pytest.mark.parametrize(("metric", "p"), METRICS)
def test_dbscan_cut_is_the_flat_cut_of_the_single_linkage_tree(metric, p):
    data = grid_with_duplicates()
    model, _ = fitted(data, metric, p, min_cluster_size=5, min_samples=3)
    linkage = model.single_linkage_tree_
    weights = np.unique(linkage[:, 2])
    cuts = [0.0, *weights[:: max(1, len(weights) // 6)], weights[-1], np.inf]
    for cut in cuts:
        parts = first_appearance(fcluster(linkage, cut, criterion="distance"))
        assert np.array_equal(model.dbscan_clustering(cut, min_cluster_size=1), parts), cut
        for size in (2, 5, 40):
            counts = np.bincount(parts)
            expected = first_appearance(np.where(counts[parts] >= size, parts, -1))
            assert np.array_equal(model.dbscan_clustering(cut, size), expected), (cut, size)
    assert np.array_equal(model.dbscan_clustering(np.inf), np.zeros(len(data), np.int32))
    labels = model.dbscan_clustering(weights[len(weights) // 2])
    assert labels.dtype == np.int32 and labels.shape == (len(data),)


def test_dbscan_cut_argument_errors():
    model = HDBSCAN().fit(blobs(100, 2, seed=1))
    for cut, message in [
        (float("nan"), "cut_distance must be at least 0, got NaN"),
        (-0.5, "cut_distance must be at least 0, got -0.5"),
        (-np.inf, "cut_distance must be at least 0, got -inf"),
        ("1", "cut_distance must be a real number, not str"),
        (None, "cut_distance must be a real number, not NoneType"),
        (True, "cut_distance must be a real number, not bool"),
    ]:
        with pytest.raises(ValueError) as info:
            model.dbscan_clustering(cut)
        assert str(info.value) == message
    for size, message in [
        (0, "min_cluster_size must be at least 1, got 0"),
        (-3, "min_cluster_size must be at least 1, got -3"),
        (2.0, "min_cluster_size must be an integer, not float"),
        ("5", "min_cluster_size must be an integer, not str"),
        (False, "min_cluster_size must be an integer, not bool"),
    ]:
        with pytest.raises(ValueError) as info:
            model.dbscan_clustering(1.0, size)
        assert str(info.value) == message
    assert (model.dbscan_clustering(1, np.int64(2**70 // 2**10)) == -1).all()
    assert (model.dbscan_clustering(np.float32(1.0), min_cluster_size=2**80) == -1).all()
    with pytest.raises(TypeError):
        model.dbscan_clustering()
    with pytest.raises(TypeError):
        model.dbscan_clustering(1.0, 5, 5)


# -- exemplars and centres ---------------------------------------------------------------------


def exemplars_by_definition(model, n):
    """Per cluster: points leaving a leaf at or below it at that leaf's largest lambda."""
    tree = model.condensed_tree_
    points = tree[tree["child"] < n]
    parents_of_clusters = set(tree["parent"][tree["child"] >= n].tolist())
    exemplars = [set() for _ in range(len(model.cluster_persistence_))]
    for leaf in set(points["parent"].tolist()) - parents_of_clusters:
        leaving = points[points["parent"] == leaf]
        for p in leaving["child"][leaving["lambda_val"] == leaving["lambda_val"].max()]:
            if model.labels_[p] >= 0:
                exemplars[model.labels_[p]].add(int(p))
    return exemplars


def weighted_sums(distances, members, weights):
    block = distances[np.ix_(members, members)].copy()
    np.fill_diagonal(block, 0.0)
    return block @ weights[members]


@pytest.mark.parametrize(("metric", "p"), METRICS)
@pytest.mark.parametrize("make_data", [lambda: blobs(300, 3, seed=11), grid_with_duplicates])
def test_exemplars_medoids_and_centroids_by_brute_force(metric, p, make_data):
    data = make_data()
    n = len(data)
    model, distances = fitted(data, metric, p, min_cluster_size=6)
    labels, weights = model.labels_, model.probabilities_
    clusters = len(model.cluster_persistence_)
    assert clusters >= 2

    exemplars = model.exemplars_
    assert isinstance(exemplars, list) and len(exemplars) == clusters
    assert [set(e.tolist()) for e in exemplars] == exemplars_by_definition(model, n)
    for k, points in enumerate(exemplars):
        assert points.dtype == np.int64 and np.all(np.diff(points) > 0)
        assert len(points) > 0 and np.all(labels[points] == k)

    medoids = model.cluster_medoids()
    assert medoids.dtype == np.int64 and medoids.shape == (clusters,)
    for k, medoid in enumerate(medoids.tolist()):
        members = np.flatnonzero(labels == k)
        sums = weighted_sums(distances, members, weights)
        assert labels[medoid] == k
        best = sums.min()
        # Both summations round; cosine distances carry an absolute error each.
        slack = 1e-12 * best + 1e-13 * weights[members].sum()
        assert sums[members == medoid][0] <= best + slack, "the smallest sum"
        assert np.all(sums[members < medoid] > best + slack), "no lower row ties with it"

    if metric == "precomputed":
        with pytest.raises(ValueError) as info:
            model.cluster_centroids()
        assert str(info.value) == (
            "cluster_centroids needs the coordinates of the points; a model fitted with "
            "metric='precomputed' has only their distances"
        )
        return
    centroids = model.cluster_centroids()
    assert centroids.shape == (clusters, data.shape[1]) and centroids.dtype == np.float64
    for k in range(clusters):
        members = labels == k
        expected = np.average(data[members], axis=0, weights=weights[members])
        np.testing.assert_allclose(centroids[k], expected, rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize(("metric", "p"), [m for m in METRICS if m[0] != "cosine"])
def test_medoid_ties_go_to_the_lowest_row(metric, p):
    # Four corners of a square, each repeated: every member has the same sum.
    rng = np.random.default_rng(5)
    square = np.array([[1.0, 1.0], [1.0, 3.0], [3.0, 3.0], [3.0, 1.0]])
    data = np.vstack([np.repeat(square, 4, axis=0), np.repeat(square + 40.0, 4, axis=0)])
    order = rng.permutation(len(data))
    data = data[order]
    model, _ = fitted(data, metric, p, min_cluster_size=5, min_samples=2)
    assert np.all(model.probabilities_[model.labels_ >= 0] == 1.0)
    for k, medoid in enumerate(model.cluster_medoids().tolist()):
        assert medoid == np.flatnonzero(model.labels_ == k).min()


def test_clusters_of_one_point_repeated():
    data = np.vstack([np.zeros((50, 3)), np.full((70, 3), 5.0), np.full((30, 3), -4.0)])
    data = data[np.random.default_rng(1).permutation(len(data))]
    model = HDBSCAN(min_cluster_size=10).fit(data)
    assert len(model.cluster_persistence_) == 3
    for k in range(3):
        members = np.flatnonzero(model.labels_ == k)
        assert model.cluster_medoids()[k] == members.min()
        assert np.array_equal(model.exemplars_[k], members)
        assert np.array_equal(model.cluster_centroids()[k], data[members[0]])


def test_medoids_of_distances_that_overflow():
    # A huge Minkowski power overflows every distance between rows near the largest
    # double: all sums are infinite, so the lowest member is the medoid.
    data = np.array([[1.74e308, -1.66e308], [3.1e307, 9.2e306], [9.2e306, 5.1e307]])
    for order in ([0, 1, 2], [2, 0, 1]):
        model = HDBSCAN(
            min_cluster_size=3, metric="minkowski", p=1e300, allow_single_cluster=True
        ).fit(data[order])
        assert model.labels_.tolist() == [0, 0, 0]
        assert model.cluster_medoids().tolist() == [0]


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(fit_cases())
def test_exports_on_random_inputs(case):
    data, params = case
    model = HDBSCAN(**params).fit(data)
    n = len(data)
    clusters = len(model.cluster_persistence_)
    linkage = model.single_linkage_tree_
    assert linkage.shape == (max(n - 1, 0), 4)
    if n >= 2:
        assert is_valid_linkage(linkage)
        cut = float(np.median(linkage[:, 2]))
        assert np.array_equal(
            model.dbscan_clustering(cut, 1), first_appearance(fcluster(linkage, cut, "distance"))
        )
    tree = model.condensed_tree_
    assert (tree["child"] < n).sum() == (n if n >= 2 else 0)
    exemplars = model.exemplars_
    medoids = model.cluster_medoids()
    assert len(exemplars) == len(medoids) == clusters
    for k in range(clusters):
        members = np.flatnonzero(model.labels_ == k)
        assert np.all(model.labels_[exemplars[k]] == k)
        assert medoids[k] in members if len(members) else medoids[k] == -1
    if params["metric"] != "precomputed":
        centroids = model.cluster_centroids()
        assert centroids.shape == (clusters, data.shape[1])
        for k in range(clusters):
            members = model.labels_ == k
            if members.any():
                lo, hi = data[members].min(axis=0), data[members].max(axis=0)
                scale = 1e-12 * np.maximum(1.0, np.abs(data).max())
                assert np.all((centroids[k] >= lo - scale) & (centroids[k] <= hi + scale))


# -- surface -----------------------------------------------------------------------------------

ATTRIBUTES = [
    "condensed_tree_",
    "single_linkage_tree_",
    "minimum_spanning_tree_",
    "core_distances_",
    "exemplars_",
]


@pytest.mark.parametrize("name", ATTRIBUTES)
def test_unfitted_attributes_and_methods(name):
    model = HDBSCAN()
    with pytest.raises(ValueError) as info:
        getattr(model, name)
    assert str(info.value) == "Model has not been fitted yet"
    for call in (
        lambda: model.dbscan_clustering(1.0),
        model.cluster_centroids,
        model.cluster_medoids,
    ):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == "Model has not been fitted yet"
    with pytest.raises(ValueError, match="^cut_distance must be a real number"):
        model.dbscan_clustering("far")


@pytest.mark.parametrize("name", ATTRIBUTES)
def test_every_read_is_a_fresh_array(name):
    model = HDBSCAN(min_cluster_size=8).fit(blobs(200, 2, seed=4))
    first = getattr(model, name)
    second = getattr(model, name)
    if name == "exemplars_":
        first, second = first[0], second[0]
    assert first is not second and np.array_equal(first, second)
    first[...] = 0
    again = getattr(model, name)
    assert np.array_equal(again[0] if name == "exemplars_" else again, second)


def test_one_point_and_no_clusters():
    model = HDBSCAN(min_cluster_size=2, min_samples=1).fit(np.zeros((1, 2)))
    assert model.single_linkage_tree_.shape == (0, 4)
    assert model.minimum_spanning_tree_.shape == (0, 3)
    assert model.condensed_tree_.shape == (0,)
    assert model.core_distances_.tolist() == [0.0]
    assert model.exemplars_ == []
    assert model.cluster_medoids().shape == (0,)
    assert model.cluster_centroids().shape == (0, 2)
    assert model.dbscan_clustering(0.0, 1).tolist() == [0]


# -- re-selection ------------------------------------------------------------------------------

RESELECTIONS = [
    {"min_cluster_size": 12},
    {"cluster_selection_method": "leaf", "min_cluster_size": 5, "max_cluster_size": 40},
    {"cluster_selection_method": "eom", "min_cluster_size": 6, "max_cluster_size": 20},
    {"min_cluster_size": 60, "max_cluster_size": None, "allow_single_cluster": True},
    {"min_cluster_size": 5, "cluster_selection_epsilon": 2.0},
]


def cluster_exports(model, coordinates):
    """What depends on the selection: labels, the condensed tree, exemplars, centres."""
    values = [model.labels_, model.condensed_tree_, model.cluster_medoids(), *model.exemplars_]
    return values + [model.cluster_centroids()] if coordinates else values


@pytest.mark.parametrize(
    ("metric", "p"), [("euclidean", None), ("minkowski", 3.0), ("precomputed", None)]
)
def test_exports_follow_a_reselected_model(metric, p):
    data = grid_with_duplicates()
    coordinates = metric != "precomputed"
    model, _ = fitted(data, metric, p, min_cluster_size=5, min_samples=4)
    cut = model.dbscan_clustering(1.5, 3)
    for params in RESELECTIONS:
        cluster_exports(model, coordinates)  # reads before a re-selection leave nothing stale
        model.reselect(**params)
        kept = {k: v for k, v in model.get_params().items() if k not in ("metric", "p")}
        fresh, _ = fitted(data, metric, p, **kept)
        ours, theirs = cluster_exports(model, coordinates), cluster_exports(fresh, coordinates)
        assert len(ours) == len(theirs), params
        for a, b in zip(ours, theirs):
            assert np.array_equal(a, b), params
        # The spanning tree does not depend on the selection.
        assert np.array_equal(model.dbscan_clustering(1.5, 3), cut)
