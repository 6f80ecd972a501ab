"""Plain transcriptions of the hierarchy's definitions, slow and obviously right: the
condensed tree of a distance matrix's minimum spanning tree, the cluster selection
(excess of mass or leaves, the two caps, the epsilon merge) and what is derived from it.

Clusters are numbered in order of creation here, not as the fit numbers them, so results
are compared up to the numbering of the clusters.
"""

import math

import numpy as np

INF = math.inf


def lambda_of(distance):
    return 1.0 / distance if distance > 0 else INF


def minimum_spanning_tree(distances):
    """Prim's algorithm on a dense symmetric matrix: (a, b, weight) edges."""
    n = len(distances)
    best = np.full(n, INF)
    via = np.full(n, -1)
    in_tree = np.zeros(n, dtype=bool)
    best[0] = 0.0
    edges = []
    for _ in range(n):
        u = int(np.argmin(np.where(in_tree, INF, best)))
        in_tree[u] = True
        if via[u] >= 0:
            edges.append((int(via[u]), u, float(distances[u, via[u]])))
        closer = ~in_tree & (distances[u] < best)
        best[closer] = distances[u][closer]
        via[closer] = u
    return edges


def components(points, edges):
    """The connected parts of `points` under `edges`."""
    neighbours = {p: [] for p in points}
    for a, b, _ in edges:
        neighbours[a].append(b)
        neighbours[b].append(a)
    seen, parts = set(), []
    for start in sorted(points):
        if start in seen:
            continue
        part, stack = set(), [start]
        while stack:
            p = stack.pop()
            if p not in seen:
                seen.add(p)
                part.add(p)
                stack.extend(neighbours[p])
        parts.append(part)
    return parts


def condensed_tree(n, edges, min_cluster_size):
    """(parent, child, lambda, child_size) rows. A cluster splits at the largest weight
    inside it, into the parts left when every edge of that weight is removed; parts of
    fewer than min_cluster_size points fall out, each point at the lambda of its own
    lightest edge; two or more large parts become new clusters, one large part goes on
    as the same cluster."""
    point_lambda = [INF] * n
    lightest = [INF] * n
    for a, b, w in edges:
        lightest[a] = min(lightest[a], w)
        lightest[b] = min(lightest[b], w)
    point_lambda = [lambda_of(w) for w in lightest]
    rows, next_id = [], n + 1
    work = [(set(range(n)), n)]
    while work:
        points, cluster = work.pop()
        inside = [e for e in edges if e[0] in points and e[1] in points]
        if not inside:  # a single point
            rows += [(cluster, p, point_lambda[p], 1) for p in points]
            continue
        level = max(w for _, _, w in inside)
        parts = components(points, [e for e in inside if e[2] < level])
        large = [part for part in parts if len(part) >= min_cluster_size]
        for part in parts:
            if len(part) < min_cluster_size:
                rows += [(cluster, p, point_lambda[p], 1) for p in sorted(part)]
        if len(large) == 1:
            work.append((large[0], cluster))
        elif len(large) > 1:
            for part in large:
                rows.append((cluster, next_id, lambda_of(level), len(part)))
                work.append((part, next_id))
                next_id += 1
    return rows


class Tree:
    """The condensed tree's clusters: parents, children, birth lambdas, sizes."""

    def __init__(self, n, rows):
        self.n, self.rows, self.root = n, rows, n
        self.parent, self.birth, self.size = {}, {n: 0.0}, {n: n}
        self.children = {n: []}
        for parent, child, lam, size in rows:
            self.parent[child] = parent
            if child >= n:
                self.birth[child], self.size[child] = lam, size
                self.children[child] = []
                self.children[parent].append(child)
        self.clusters = sorted(self.birth)

    def descendants(self, c):
        out, stack = [], list(self.children[c])
        while stack:
            d = stack.pop()
            out.append(d)
            stack.extend(self.children[d])
        return out

    def ancestors(self, node):
        while node in self.parent:
            node = self.parent[node]
            yield node


def birth_distance(tree, c):
    return INF if tree.birth[c] == 0 else 1.0 / tree.birth[c]


def select(
    tree, method, allow_single_cluster, epsilon=0.0, max_cluster_size=None, epsilon_max=None
):
    """The selected cluster ids, ascending."""

    def over_cap(c):
        too_big = max_cluster_size is not None and tree.size[c] > max_cluster_size
        too_old = epsilon_max is not None and birth_distance(tree, c) > epsilon_max
        return too_big or too_old

    def barred(c):
        return over_cap(c) and any(not over_cap(d) for d in tree.descendants(c))

    if method == "eom":
        stability = dict.fromkeys(tree.clusters, 0.0)
        for parent, _, lam, size in tree.rows:
            birth = tree.birth[parent]
            stability[parent] += (lam - birth if lam > birth else 0.0) * size
        selected = {}
        for c in sorted(tree.clusters, reverse=True):  # children before parents
            if c == tree.root and not allow_single_cluster:
                continue
            if not tree.children[c]:
                selected[c] = True
                continue
            below = sum(stability[child] for child in tree.children[c])
            if below <= stability[c] and not barred(c):
                selected[c] = True
                for d in tree.descendants(c):
                    selected[d] = False
            else:
                selected[c] = False
                stability[c] = below
        chosen = {c for c, on in selected.items() if on}
    else:
        chosen = {c for c in tree.clusters if not tree.children[c]}

    if epsilon > 0:
        climbed = set()
        for c in chosen:
            target = c
            if birth_distance(tree, c) < epsilon:
                while target != tree.root:
                    up = tree.parent[target]
                    if over_cap(up) or (up == tree.root and not allow_single_cluster):
                        break
                    target = up
                    if birth_distance(tree, up) >= epsilon:
                        break
            climbed.add(target)
        chosen = {c for c in climbed if not any(a in climbed for a in tree.ancestors(c))}
    return sorted(chosen)


def derived(tree, selection, allow_single_cluster, epsilon=0.0):
    """Labels, probabilities, outlier scores and persistence of a selection."""
    n = tree.n
    point_lambda, point_parent = [0.0] * n, [0] * n
    for parent, child, lam, _ in tree.rows:
        if child < n:
            point_lambda[child], point_parent[child] = lam, parent
    label_of = {c: k for k, c in enumerate(selection)}

    def owner(c):
        return next((a for a in [c, *tree.ancestors(c)] if a in label_of), None)

    labels = np.full(n, -1, dtype=np.int32)
    single_root = allow_single_cluster and selection == [tree.root]
    if single_root:
        if epsilon != 0:
            threshold = 1.0 / epsilon
        else:
            under_root = [lam for p, _, lam, _ in tree.rows if p == tree.root and lam == lam]
            threshold = max([0.0, *under_root])
    for p in range(n):
        c = owner(point_parent[p])
        if c is not None and c != tree.root:
            labels[p] = label_of[c]
        elif c == tree.root and single_root and threshold <= point_lambda[p]:
            labels[p] = 0

    finite = [lam if math.isfinite(lam) else 0.0 for lam in point_lambda]
    deepest_owned = dict.fromkeys(selection, 0.0)
    for p in range(n):
        c = owner(point_parent[p])
        if c is not None:
            deepest_owned[c] = max(deepest_owned[c], finite[p])
    probabilities = np.zeros(n)
    for p in np.flatnonzero(labels >= 0):
        c = selection[labels[p]]
        birth = 0.0 if math.isinf(tree.birth[c]) else tree.birth[c]
        span = deepest_owned[c] - birth
        if math.isfinite(span) and span > 0:
            probabilities[p] = min(1.0, max(0.0, (point_lambda[p] - birth) / span))
        else:
            probabilities[p] = 1.0

    deepest_below = dict.fromkeys(tree.clusters, 0.0)
    for p in range(n):
        for c in [point_parent[p], *tree.ancestors(point_parent[p])]:
            deepest_below[c] = max(deepest_below[c], finite[p])
    scores = np.zeros(n)
    for p in range(n):
        m = deepest_below[point_parent[p]]
        if math.isfinite(m) and m > 0:
            scores[p] = min(1.0, max(0.0, (m - point_lambda[p]) / m))

    persistence = []
    for c in selection:
        last = max([0.0] + [lam for parent, _, lam, _ in tree.rows if parent == c])
        born = INF if tree.birth[c] <= 0 else 1.0 / tree.birth[c]
        gone = 1.0 / last if last > 0 else 0.0
        span = born - gone
        persistence.append(0.0 if math.isnan(span) else max(span, 0.0))
    return labels, probabilities, scores, np.array(persistence)


def reference_results(distances, min_cluster_size, method, allow_single_cluster, **caps):
    """Every result of a fit on `distances` (mutual reachability already), by the
    definitions above."""
    n = len(distances)
    tree = Tree(n, condensed_tree(n, minimum_spanning_tree(distances), min_cluster_size))
    selection = select(tree, method, allow_single_cluster, **caps)
    return derived(tree, selection, allow_single_cluster, caps.get("epsilon", 0.0))
