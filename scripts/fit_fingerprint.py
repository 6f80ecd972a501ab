"""Bit-for-bit record of 44 fits and their predictions, to show that a change of
structure or speed leaves every result as it was.

    python scripts/fit_fingerprint.py --save before.npz     # on the old build
    python scripts/fit_fingerprint.py --compare before.npz  # on the new build

The fits cover every metric, 2 to 40 columns, every route of the spanning tree,
alpha, leaf selection, epsilon, single clusters, integer grids and duplicated
rows (exact ties). Each fit runs on every processor and again on one; the two
must agree bit for bit before anything is saved or compared. Labels are compared
as they are: cluster numbers must not move either.
"""

import argparse
import os
import sys

import numpy as np

import corvane

FIELDS = ("labels_", "probabilities_", "outlier_scores_", "cluster_persistence_")


def blobs(rng, n, d, centres=6):
    middle = rng.uniform(-20.0, 20.0, size=(centres, d))
    which = rng.integers(0, centres, n)
    points = middle[which] + rng.normal(size=(n, d)) * rng.uniform(0.5, 2.0, centres)[which, None]
    noise = rng.uniform(-25.0, 25.0, size=(n // 20, d))
    return np.vstack([points, noise])


def grid(rng, n, d):
    """Integer coordinates: many exactly equal distances."""
    return rng.integers(0, 12, size=(n, d)).astype(np.float64)


def duplicated(rng, n, d):
    """Blobs whose rows each appear two or three times."""
    base = blobs(rng, n // 2, d)
    return np.vstack([base, base, base[: n - 2 * len(base)]])[rng.permutation(n)]


def cases():
    """(name, data maker, n, d, constructor keywords); 44 in all."""
    out = []
    for d, n in (
        (1, 2000),
        (2, 300),
        (2, 3000),
        (3, 1500),
        (5, 5000),
        (8, 6000),
        (10, 800),
        (17, 9000),
    ):
        out.append((f"blobs {n}x{d}", blobs, n, d, {}))
    for d, n in ((20, 700), (40, 9000), (40, 1200), (70, 2500), (128, 4000), (600, 300)):
        out.append((f"blobs {n}x{d}", blobs, n, d, {"min_cluster_size": 10}))
    for d, n in ((2, 2000), (3, 600), (6, 5000), (20, 900), (20, 9000)):
        out.append((f"grid {n}x{d}", grid, n, d, {"min_cluster_size": 8, "min_samples": 4}))
    for d, n in ((2, 2500), (7, 700), (24, 1000)):
        out.append((f"duplicated {n}x{d}", duplicated, n, d, {"min_samples": 3}))
    metrics = (
        {"metric": "manhattan"},
        {"metric": "cosine"},
        {"metric": "minkowski", "p": 3.0},
        {"metric": "minkowski", "p": float("inf")},
        {"metric": "minkowski", "p": 2.0},
        {"metric": "minkowski", "p": 1.0},
    )
    for extra in metrics:
        out.append((f"blobs 1200x4 {extra}", blobs, 1200, 4, extra))
        out.append((f"grid 900x3 {extra}", grid, 900, 3, {"min_cluster_size": 6, **extra}))
    out.append(("precomputed blobs", "precomputed", 600, 3, {"metric": "precomputed"}))
    out.append(("precomputed grid", "precomputed-grid", 500, 2, {"metric": "precomputed"}))
    variants = (
        {"alpha": 0.7},
        {"alpha": 1.3, "min_samples": 2},
        {"cluster_selection_method": "leaf"},
        {"cluster_selection_epsilon": 3.0},
        {"cluster_selection_epsilon": 40.0, "allow_single_cluster": True},
        {"allow_single_cluster": True, "min_cluster_size": 40},
        {"min_cluster_size": 2, "min_samples": 1},
        {"cluster_selection_method": "leaf", "cluster_selection_epsilon": 2.0},
    )
    for i, extra in enumerate(variants):
        n, d = (3000, 2) if i % 2 == 0 else (5000, 6)
        out.append((f"blobs {n}x{d} {extra}", blobs, n, d, extra))
    return out


def make_data(maker, n, d, seed):
    rng = np.random.default_rng(seed)
    if maker == "precomputed":
        points = blobs(rng, n, d)[:n]
    elif maker == "precomputed-grid":
        points = grid(rng, n, d)
    else:
        return maker(rng, n, d)[:n], maker(rng, 200, d)[:200]
    diff = points[:, None, :] - points[None, :, :]
    train = np.sqrt((diff**2).sum(axis=2))
    new = np.abs(rng.normal(size=(50, n))) * train.mean()
    return train, new


def fit_once(keywords, train, new):
    model = corvane.HDBSCAN(**keywords).fit(train)
    record = {field: getattr(model, field) for field in FIELDS}
    record["predicted_labels"], record["predicted_probabilities"] = model.approximate_predict(new)
    return record


def same(a, b):
    a, b = np.asarray(a), np.asarray(b)
    if a.dtype != b.dtype or a.shape != b.shape:
        return False
    return a.tobytes() == b.tobytes()


def fingerprint():
    every_cpu = os.sched_getaffinity(0)
    records = {}
    for seed, (name, maker, n, d, keywords) in enumerate(cases()):
        train, new = make_data(maker, n, d, seed)
        many = fit_once(keywords, train, new)
        os.sched_setaffinity(0, {min(every_cpu)})
        try:
            one = fit_once(keywords, train, new)
        finally:
            os.sched_setaffinity(0, every_cpu)
        for key in many:
            if not same(many[key], one[key]):
                sys.exit(f"{name}: {key} differs between 1 and {len(every_cpu)} processors")
        for key, value in many.items():
            records[f"{seed:02d} {name} | {key}"] = value
    return records


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--save", metavar="FILE")
    action.add_argument("--compare", metavar="FILE")
    args = parser.parse_args()
    records = fingerprint()
    fits = len({key.split(" | ")[0] for key in records})
    if args.save:
        np.savez_compressed(args.save, **records)
        print(f"saved {fits} fits to {args.save}")
        return
    with np.load(args.compare) as saved:
        expected = {key: saved[key] for key in saved.files}
    if set(expected) != set(records):
        sys.exit("the two records hold different fits")
    differing = sorted(key for key in records if not same(records[key], expected[key]))
    for key in differing:
        print(f"differs: {key}")
    if differing:
        sys.exit(f"{len(differing)} of {len(records)} results differ")
    print(f"all {fits} fits identical ({len(records)} results, 1 and many processors)")


if __name__ == "__main__":
    main()
