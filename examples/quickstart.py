"""Cluster a synthetic 2-D data set with corvane, print a summary and save a plot.

The data: 60 000 points in five groups of very different densities and shapes
(two tight Gaussian blobs, a wide blob, a ring and a crescent) on top of uniform
background noise. Run from anywhere:

    python examples/quickstart.py [--output clusters.png] [--points 60000] [--dpi 110]
"""

import argparse
import time
from pathlib import Path

import numpy as np

import corvane


def make_data(n_points, seed=7):
    rng = np.random.default_rng(seed)
    shares = np.array([0.22, 0.18, 0.2, 0.15, 0.15, 0.1])  # last share: background noise
    counts = np.floor(shares * n_points).astype(int)
    counts[-1] += n_points - counts.sum()

    tight_a = rng.normal([-6.0, 5.0], 0.35, size=(counts[0], 2))
    tight_b = rng.normal([5.0, 6.0], 0.6, size=(counts[1], 2))
    wide = rng.normal([0.0, -6.0], 1.8, size=(counts[2], 2))
    angle = rng.uniform(0.0, 2.0 * np.pi, counts[3])
    radius = rng.normal(3.0, 0.25, counts[3])
    ring = np.column_stack([radius * np.cos(angle) + 8.0, radius * np.sin(angle) - 3.0])
    arc = rng.uniform(0.15 * np.pi, 0.85 * np.pi, counts[4])
    crescent = np.column_stack([4.0 * np.cos(arc) - 8.0, 4.0 * np.sin(arc) - 6.0])
    crescent += rng.normal(0.0, 0.2, size=crescent.shape)
    noise = rng.uniform([-14.0, -14.0], [14.0, 12.0], size=(counts[5], 2))

    data = np.vstack([tight_a, tight_b, wide, ring, crescent, noise])
    return data[rng.permutation(len(data))]


def save_plot(data, labels, probabilities, path, dpi):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(9, 8), dpi=dpi)
    noise = labels < 0
    ax.scatter(data[noise, 0], data[noise, 1], s=2, c="#bbbbbb", linewidths=0, label="noise")
    palette = plt.get_cmap("tab10")
    for label in np.unique(labels[~noise]):
        members = labels == label
        # Points fade with their membership probability: cluster cores are solid.
        colours = np.tile(matplotlib.colors.to_rgba(palette(label % 10)), (members.sum(), 1))
        colours[:, 3] = 0.15 + 0.85 * probabilities[members]
        ax.scatter(
            data[members, 0],
            data[members, 1],
            s=2,
            c=colours,
            linewidths=0,
            label=f"cluster {label} ({members.sum()} points)",
        )
    ax.set_title(f"corvane HDBSCAN: {len(data)} points (shade: membership probability)")
    ax.set_aspect("equal")
    legend = ax.legend(loc="upper right", markerscale=6, fontsize=8, framealpha=0.9)
    for handle in getattr(legend, "legend_handles", None) or legend.legendHandles:
        handle.set_alpha(1.0)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", type=int, default=60_000)
    parser.add_argument("--output", type=Path, default=Path("clusters.png"))
    parser.add_argument("--dpi", type=int, default=110, help="resolution of the plot")
    args = parser.parse_args()

    data = make_data(args.points)
    model = corvane.HDBSCAN(min_cluster_size=500, min_samples=30)
    start = time.perf_counter()
    labels = model.fit_predict(data)
    elapsed = time.perf_counter() - start

    clusters = sorted(set(labels.tolist()) - {-1})
    print(f"{model!r}")
    print(f"points:   {len(data)} in {data.shape[1]} columns")
    print(f"clusters: {len(clusters)}")
    for label in clusters:
        members = labels == label
        print(
            f"  cluster {label}: {members.sum():6d} points, "
            f"mean probability {model.probabilities_[members].mean():.3f}, "
            f"persistence {model.cluster_persistence_[label]:.3f}"
        )
    print(f"noise:    {np.mean(labels < 0):.1%} of the points")
    print(f"time:     {elapsed:.3f} s for fit_predict")

    try:
        save_plot(data, labels, model.probabilities_, args.output, args.dpi)
    except ImportError:
        print("matplotlib is not installed: pip install 'corvane[examples]' to get the plot")
    else:
        print(f"plot:     {args.output.resolve()}")


if __name__ == "__main__":
    main()
