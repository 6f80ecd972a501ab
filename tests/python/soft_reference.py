"""Soft clustering written out plainly from its definition, for the tests.

Reads a fitted model only through what it exports (the condensed tree, labels, core
distances) and measures distances with SciPy, so that it shares nothing with the
extension's code. Lambdas and distances are in the units of the data.

Definition, for a point x that leaves cluster P of the condensed tree at lambda l:
- the selected cluster of label k is the lowest cluster holding every point of label k;
  its exemplars are, for every leaf at or below it, the points of label k that leave
  that leaf at its largest lambda;
- deepest(c) is the largest finite lambda at which a point leaves c or a cluster below
  it; where there is none above 0 (a cluster of duplicates), the largest finite point
  lambda of the whole tree; every lambda of x's walk is capped at m = deepest(P);
- h_k: if P is the selected cluster or lies below it, l; otherwise, at the lowest common
  ancestor A of P and the selected cluster, l when A is P, else the birth lambda of the
  child of A on the way to P;
- distance part: 1 / d_k normalised (clusters at distance 0 share it equally), d_k the
  smallest distance to an exemplar; outlier part: m / (m - h_k) normalised (clusters
  with h_k = m share it equally);
- vector: their product normalised (the distance part when the product is all 0), times
  max_k h_k / deepest(selected cluster of the first k attaining it), at most 1.
A new point joins through its nearest training point q under max(distance, core
distance of q), lowest row on ties, and leaves q's cluster at min(1 / that, lambda of q).
"""

import math

import numpy as np
from scipy.spatial.distance import cdist


def distances_between(a, b, metric):
    if metric in ("manhattan", "cityblock", "l1"):
        return cdist(a, b, "cityblock")
    return cdist(a, b, metric)


def shares(values):
    """Normalised reciprocals; zeros share equally; all infinite share equally."""
    zeros = [v == 0.0 for v in values]
    if any(zeros):
        return [1.0 / sum(zeros) if z else 0.0 for z in zeros]
    weights = [0.0 if math.isinf(v) else 1.0 / v for v in values]
    total = sum(weights)
    if total == 0.0:
        return [1.0 / len(values)] * len(values)
    return [w / total for w in weights]


class SoftReference:
    def __init__(self, model):
        tree = model.condensed_tree_
        self.labels = model.labels_
        self.n = n = len(self.labels)
        self.parent = {int(r["child"]): int(r["parent"]) for r in tree}
        self.lam = {int(r["child"]): float(r["lambda_val"]) for r in tree}
        self.root = n
        self.children = {}
        for r in tree:
            self.children.setdefault(int(r["parent"]), [])
            if r["child"] >= n:
                self.children[int(r["parent"])].append(int(r["child"]))
        finite = [v for p, v in self.lam.items() if p < n and math.isfinite(v)]
        self.anywhere = max(finite, default=0.0)
        self.k = int(self.labels.max()) + 1 if n else 0
        self.selected = [
            self.lowest_common(np.flatnonzero(self.labels == k)) for k in range(self.k)
        ]
        self.exemplars = [self.exemplars_of(k) for k in range(self.k)]

    def path(self, c):
        out = [c]
        while out[-1] != self.root:
            out.append(self.parent[out[-1]])
        return out

    def lowest_common(self, points):
        paths = [self.path(self.parent[int(p)]) for p in points]
        common = set(paths[0]).intersection(*map(set, paths[1:]))
        return next(c for c in paths[0] if c in common)

    def points_under(self, c):
        return [p for p in range(self.n) if c in self.path(self.parent[p])]

    def glosh_deepest(self, c):
        values = [self.lam[p] for p in self.points_under(c) if math.isfinite(self.lam[p])]
        return max(values, default=0.0)

    def deepest(self, c):
        own = self.glosh_deepest(c)
        return own if own > 0.0 else self.anywhere

    def exemplars_of(self, k):
        below = [c for c in self.children if self.selected[k] in self.path(c)]
        leaves = [c for c in below if not self.children[c]]
        out = []
        for leaf in leaves:
            leaving = [p for p in range(self.n) if self.parent[p] == leaf]
            top = max(self.lam[p] for p in leaving)
            out += [p for p in leaving if self.lam[p] == top and self.labels[p] == k]
        return sorted(out)

    def heights(self, cluster, lam):
        m = self.deepest(cluster)
        own = min(lam, m)
        up = self.path(cluster)
        out = []
        for selected in self.selected:
            if selected in up:
                out.append(own)
                continue
            theirs = set(self.path(selected))
            at = next(i for i, c in enumerate(up) if c in theirs)
            out.append(own if at == 0 else min(self.lam[up[at - 1]], m))
        return out

    def vector(self, cluster, lam, distances):
        """distances: to every training point."""
        if self.k == 0:
            return []
        h = self.heights(cluster, lam)
        m = self.deepest(cluster)
        near = shares([min(distances[e] for e in ex) for ex in self.exemplars])
        tree = shares([m - v for v in h])
        product = [a * b for a, b in zip(near, tree)]
        total = sum(product)
        combined = [v / total for v in product] if total > 0.0 else near
        best = h.index(max(h))
        top = self.deepest(self.selected[best])
        inside = min(h[best] / top, 1.0) if top > 0.0 else 1.0
        return [v * inside for v in combined]

    def all_points(self, X, metric):
        d = X if metric == "precomputed" else distances_between(X, X, metric)
        return np.array(
            [self.vector(self.parent[i], self.lam[i], d[i]) for i in range(self.n)]
        ).reshape(self.n, self.k)

    def placements(self, X, new, metric, core):
        d = new if metric == "precomputed" else distances_between(new, X, metric)
        out = []
        for row in d:
            reach = np.maximum(row, core)
            q = int(np.argmin(reach))
            lam = 1.0 / reach[q] if reach[q] > 0.0 else math.inf
            out.append((self.parent[q], min(lam, self.lam[q]), row))
        return out

    def new_points(self, X, new, metric, core):
        rows = [self.vector(c, lam, row) for c, lam, row in self.placements(X, new, metric, core)]
        return np.array(rows).reshape(len(new), self.k)

    def outlier_scores(self, X, new, metric, core):
        out = []
        for c, lam, _ in self.placements(X, new, metric, core):
            m = self.glosh_deepest(c)
            out.append(min(1.0, max(0.0, (m - lam) / m)) if m > 0.0 else 0.0)
        return np.array(out)
