"""Draw the cluster hierarchy of a corvane fit: the condensed tree as an icicle plot and a
truncated dendrogram of the single-linkage tree.

Clusters the quickstart's data (examples/quickstart.py) with the same parameters, so the
selected clusters carry the colours of its scatter plot, and writes two images:

    python examples/plot_hierarchy.py [--points 60000] [--condensed condensed_tree.png]
                                      [--dendrogram dendrogram.png] [--min-cluster-size 500]

Icicle plot: each cluster of the condensed tree is a bar that starts where the cluster
forms (lambda = 1 / distance grows downwards) and narrows as its points leave; where it
splits, its children continue side by side beneath it. Selected clusters are solid and
the clusters inside them pale, in the colour of their label; clusters holding several
labels or noise are grey. Clusters smaller than --min-bar-share of the points are thin
branches: their points stay in one light bar under their parent until they leave, so a
fit of millions of points with tens of thousands of small clusters draws in seconds.
Nothing recurses: every pass is a NumPy operation or one loop over the clusters.
"""

import argparse
import time
from pathlib import Path

import numpy as np
from quickstart import make_data

import corvane

MIXED = -2  # the label of a group of points that do not all share one
NOISE_COLOUR = "#bbbbbb"  # as in the quickstart's scatter
MIXED_COLOUR = "#c5ced8"
LINK_COLOUR = "#8c8c8c"
STEPS_PER_BAR = 160  # vertices down each side of a bar, at most


class Clusters:
    """The clusters of a condensed tree by id: birth lambda, size, parent, and the label
    that every point under the cluster shares (or MIXED)."""

    def __init__(self, tree, labels):
        n = len(labels)
        self.n = n
        self.birth = {n: 0.0}
        self.size = {n: n}
        self.parent = {}
        for parent, child, lam, size in tree[tree["child"] >= n].tolist():
            self.birth[child], self.size[child], self.parent[child] = lam, size, parent
        # Children have larger ids than their parents: ascending ids meet every parent
        # before its children, descending ids every child before its parent.
        self.ids = sorted(self.size)

        low = np.full(self.ids[-1] + 1, np.iinfo(np.int64).max)
        high = np.full(self.ids[-1] + 1, np.iinfo(np.int64).min)
        points = tree[tree["child"] < n]
        np.minimum.at(low, points["parent"], labels[points["child"]])
        np.maximum.at(high, points["parent"], labels[points["child"]])
        for child in reversed(self.ids[1:]):
            parent = self.parent[child]
            low[parent] = min(low[parent], low[child])
            high[parent] = max(high[parent], high[child])
        self.label = np.where(low == high, low, MIXED)


def new_bar(kind, start, end, width, leaving, label):
    return {
        "kind": kind,
        "start": start,
        "end": end,
        "width": width,
        "leaving": leaving,
        "label": label,
        "beneath": [],
        "branches": None,
    }


def icicle_bars(tree, clusters, labels, min_points):
    """The bars of the icicle plot as a tree from the root's bar: each bar a dict with
    the lambdas where it starts and ends and where its points leave it, its width at the
    start, its label (or MIXED), the bars of clusters beneath it and the bar of its thin
    branches' points beneath it.

    Clusters of at least min_points points are drawn. A drawn cluster whose only drawn
    child shares its label goes on in the child's bar, so a large cluster shedding small
    ones is one bar, not thousands; the points of thin clusters stay in the bar of their
    nearest drawn ancestor until they leave. Where a bar's last cluster splits into drawn
    children, they continue side by side beneath it, next to a bar of its thin branches'
    points still left there.
    """
    n = clusters.n
    drawn = {c for c in clusters.ids if clusters.size[c] >= min_points} | {n}
    drawn_children = {}
    for c in clusters.ids[1:]:
        if c in drawn:
            p = clusters.parent[c]
            drawn_children[p] = drawn_children.get(p, 0) + 1
    head = {n: n}  # the bar of each drawn cluster, named by the cluster it starts at
    holder = {n: n}  # the bar that holds each cluster's own points
    for c in clusters.ids[1:]:
        p = clusters.parent[c]
        if c in drawn:
            goes_on = drawn_children[p] == 1 and clusters.label[c] == clusters.label[p]
            head[c] = head[p] if goes_on else c
            holder[c] = head[c]
        else:
            holder[c] = holder[p]
    last = {}  # the deepest cluster of each bar (ids grow along it)
    split = {}  # the lambda where a cluster's children are born
    for c in clusters.ids[1:]:
        split[clusters.parent[c]] = clusters.birth[c]
        if c in drawn:
            last[head[c]] = c
    last[n] = last.get(n, n)

    points = tree[tree["child"] < n]
    heads = sorted(set(head.values()))
    number = {h: i for i, h in enumerate(heads)}
    which = np.array([number[holder[p]] for p in points["parent"].tolist()], dtype=np.int64)
    by_bar = np.lexsort((points["lambda_val"], which))
    bounds = np.searchsorted(which[by_bar], np.arange(len(heads) + 1))

    bars = {}
    for i, h in enumerate(heads):
        held = by_bar[bounds[i] : bounds[i + 1]]
        leaving = points["lambda_val"][held]
        tail = last[h]
        ends_in_children = drawn_children.get(tail, 0) > 0
        end = split[tail] if ends_in_children else leaving[-1] if len(leaving) else 0.0
        bar = new_bar(
            "cluster", clusters.birth[h], end, clusters.size[h], leaving, clusters.label[h]
        )
        rest = held[leaving > end] if ends_in_children else held[:0]
        if len(rest):
            rest_labels = labels[points["child"][rest]]
            shared = rest_labels[0] if rest_labels.min() == rest_labels.max() else MIXED
            bar["branches"] = new_bar(
                "branches", end, leaving[-1], len(rest), points["lambda_val"][rest], shared
            )
        bars[h] = bar
    for c in clusters.ids[1:]:
        if c in drawn and head[c] == c:
            bars[head[clusters.parent[c]]]["beneath"].append(bars[c])
    return bars[n], len(heads)


def bar_outline(bar, left, deepest):
    """Polygon of a bar centred in [left, left + width), one point narrower at each
    departure; lambdas beyond `deepest` (+infinity: points at distance 0) end there."""
    leaving = np.minimum(bar["leaving"], deepest)
    start, end = bar["start"], min(bar["end"], deepest)
    steps = np.unique(np.concatenate([[start], leaving[leaving <= end], [end]]))
    if len(steps) > STEPS_PER_BAR:
        steps = np.unique(np.quantile(steps, np.linspace(0.0, 1.0, STEPS_PER_BAR)))
    halves = np.repeat(bar["width"] - np.searchsorted(leaving, steps, side="right"), 2) / 2.0
    ys = np.append(np.repeat(steps, 2)[1:], steps[-1])
    centre = left + bar["width"] / 2.0
    left_side = np.column_stack([centre - halves, ys])
    right_side = np.column_stack([centre + halves, ys])
    return np.concatenate([left_side, right_side[::-1]])


def plot_condensed_tree(ax, model, min_bar_share):
    import matplotlib.pyplot as plt
    from matplotlib.collections import PolyCollection

    tree = model.condensed_tree_
    labels = model.labels_
    clusters = Clusters(tree, labels)
    n = clusters.n
    min_points = max(2, int(min_bar_share * n))
    root, count = icicle_bars(tree, clusters, labels, min_points)
    # The axis ends a little below all but the last thousandth of the points: single
    # points that leave far deeper would leave it mostly empty.
    finite = tree["lambda_val"][np.isfinite(tree["lambda_val"])]
    deepest = 1.05 * np.quantile(finite, 0.999) if len(finite) else 1.0

    palette = plt.get_cmap("tab10")
    polygons, colours, names = [], [], []
    coloured = set()
    # Top down with an explicit stack: the bars beneath a bar sit side by side, centred
    # under what is left of it where they start.
    stack = [(root, 0.0)]
    while stack:
        bar, left = stack.pop()
        polygons.append(bar_outline(bar, left, deepest))
        k = int(bar["label"])
        if k >= 0:
            colours.append((*palette(k % 10)[:3], 0.35 if k in coloured else 1.0))
            if k not in coloured:  # the topmost bar of a label is its selected cluster
                coloured.add(k)
                names.append((left + bar["width"] / 2.0, bar["start"], str(k)))
        else:
            colours.append(MIXED_COLOUR if bar["kind"] == "cluster" else NOISE_COLOUR)
        beneath = bar["beneath"] + ([bar["branches"]] if bar["branches"] else [])
        offset = left + (bar["width"] - sum(below["width"] for below in beneath)) / 2.0
        for below in beneath:
            stack.append((below, offset))
            offset += below["width"]
    ax.add_collection(PolyCollection(polygons, facecolors=colours, edgecolors="none"))
    for x, y, text in names:
        ax.text(x, y, text, ha="center", va="bottom", fontsize=8)
    ax.set_xlim(0, n)
    ax.set_ylim(deepest, 0)
    ax.set_xlabel("points")
    ax.set_ylabel("lambda = 1 / distance")
    ax.set_title(
        f"Condensed tree: {count} bars of clusters of {min_points} points or more", fontsize=10
    )


def follow(pointer):
    """Where each chain of pointer[i] ends (pointer[j] == j), by pointer doubling."""
    pointer = pointer.copy()
    while True:
        jumped = pointer[pointer]
        if np.array_equal(jumped, pointer):
            return pointer
        pointer = jumped


def folded_linkage(linkage, n, min_size):
    """The single-linkage tree with every branch of fewer than min_size points folded into
    the branch it joins: a SciPy linkage over the branches that reach min_size before
    they meet another such branch. Returns it with, for each of its nodes, the node of
    the full tree whose points it holds."""
    sizes = np.concatenate([np.ones(n, dtype=np.int64), linkage[:, 3].astype(np.int64)])
    children = linkage[:, :2].astype(np.int64)
    big = sizes >= min_size
    big_left, big_right = big[children[:, 0]], big[children[:, 1]]
    # A merge of two big branches stays; a big branch that takes in a small one goes on
    # as itself; a merge of two small branches into a big one starts a branch.
    kept = np.flatnonzero(big_left & big_right)
    one = np.flatnonzero(big_left ^ big_right)
    pointer = np.arange(2 * n - 1)
    pointer[n + one] = np.where(big_left[one], children[one, 0], children[one, 1])
    branch = follow(pointer)
    if len(kept) == 0:
        return None, None
    ends = branch[children[kept]]  # the branches each kept merge joins
    leaves = np.unique(ends[~np.isin(ends, n + kept)])
    number = np.empty(2 * n - 1, dtype=np.int64)
    number[leaves] = np.arange(len(leaves))
    number[n + kept] = len(leaves) + np.arange(len(kept))
    counts = np.ones(len(leaves) + len(kept), dtype=np.int64)  # leaves under each node
    for row, (a, b) in enumerate(number[ends].tolist()):
        counts[len(leaves) + row] = counts[a] + counts[b]
    folded = np.column_stack([number[ends], linkage[kept, 2], counts[len(leaves) :]])
    holds = np.empty(len(leaves) + len(kept), dtype=np.int64)
    holds[number[ends].ravel()] = children[kept].ravel()  # a leaf holds all it gathered
    holds[len(leaves) :] = n + kept
    return folded, holds


def plot_dendrogram(ax, model, min_bar_share, leaves):
    import matplotlib.pyplot as plt
    from matplotlib.colors import to_hex
    from scipy.cluster.hierarchy import dendrogram, leaves_list

    linkage = model.single_linkage_tree_
    labels = model.labels_
    n = len(labels)
    # Thin branches are folded until at most `leaves` branches are left.
    min_size = max(2, int(min_bar_share * n))
    folded, holds = folded_linkage(linkage, n, min_size)
    while folded is not None and len(folded) >= leaves:
        min_size *= 2
        folded, holds = folded_linkage(linkage, n, min_size)
    if folded is None:
        ax.set_title(f"Single-linkage tree: no two branches of {min_size} points meet")
        return
    # The points under a node are one run of the leaf order, starting at its leftmost
    # point; a link takes the colour of the label its run holds, if only one.
    order = leaves_list(linkage)
    position = np.empty(n, dtype=np.int64)
    position[order] = np.arange(n)
    left = np.concatenate([np.arange(n), linkage[:, 0].astype(np.int64)])
    start = position[follow(left)]
    sizes = np.concatenate([np.ones(n, dtype=np.int64), linkage[:, 3].astype(np.int64)])
    ordered = labels[order]
    changes = np.concatenate([[0], np.cumsum(ordered[1:] != ordered[:-1])])
    palette = plt.get_cmap("tab10")

    def colour(node):
        first = start[holds[node]]
        last = first + sizes[holds[node]] - 1
        if changes[last] == changes[first] and ordered[first] >= 0:
            return to_hex(palette(int(ordered[first]) % 10))
        return LINK_COLOUR

    names = [f"({sizes[node]})" for node in holds[: len(folded) + 1]]
    drawn = dendrogram(
        folded, ax=ax, labels=names, link_color_func=colour, leaf_font_size=7, leaf_rotation=90
    )
    for text, leaf in zip(ax.get_xticklabels(), drawn["leaves"]):
        text.set_color(colour(leaf))
    ax.set_ylabel("distance")
    ax.set_title(
        f"Single-linkage tree, branches of fewer than {min_size} points folded in", fontsize=10
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", type=int, default=60_000)
    parser.add_argument("--min-cluster-size", type=int, default=500)
    parser.add_argument("--min-samples", type=int, default=30)
    parser.add_argument(
        "--min-bar-share",
        type=float,
        default=0.002,
        help="smallest cluster drawn as a bar of its own, as a share of points",
    )
    parser.add_argument("--leaves", type=int, default=30, help="leaves of the dendrogram")
    parser.add_argument("--condensed", type=Path, default=Path("condensed_tree.png"))
    parser.add_argument("--dendrogram", type=Path, default=Path("dendrogram.png"))
    args = parser.parse_args()

    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    data = make_data(args.points)
    start = time.perf_counter()
    model = corvane.HDBSCAN(
        min_cluster_size=args.min_cluster_size, min_samples=args.min_samples
    ).fit(data)
    print(f"fit:        {time.perf_counter() - start:.2f} s for {len(data)} points")
    for draw, path in (
        (lambda ax: plot_condensed_tree(ax, model, args.min_bar_share), args.condensed),
        (lambda ax: plot_dendrogram(ax, model, args.min_bar_share, args.leaves), args.dendrogram),
    ):
        start = time.perf_counter()
        fig, ax = plt.subplots(figsize=(7, 4.5), dpi=100)
        draw(ax)
        fig.tight_layout()
        fig.savefig(path)
        plt.close(fig)
        print(f"{str(path) + ':':<11} {time.perf_counter() - start:.2f} s")


if __name__ == "__main__":
    main()
