"""Data shared by the benchmarks: clustering-like points and the raw matrix format that
the C++ benchmark programs read."""

import time

import numpy as np


def make_blobs(n, d, seed=0):
    """Gaussian blobs of varied density with 5% uniform noise."""
    rng = np.random.default_rng(seed)
    n_noise = n // 20
    n_blob = n - n_noise
    n_centres = 12
    centres = rng.uniform(-50.0, 50.0, size=(n_centres, d))
    scales = rng.uniform(0.5, 4.0, size=n_centres)
    which = rng.integers(0, n_centres, n_blob)
    points = centres[which] + rng.normal(size=(n_blob, d)) * scales[which, None]
    noise = rng.uniform(-60.0, 60.0, size=(n_noise, d))
    return np.vstack([points, noise])[rng.permutation(n)]


def standard_normal(n, d, seed=0):
    """Independent standard normal coordinates."""
    return np.random.default_rng(seed).standard_normal((n, d))


def blobs_with_noise(n, d, centers=20, seed=0):
    """Gaussian blobs (scikit-learn's make_blobs: centres uniform in [-10, 10], unit
    spread) with 5% of the points replaced by uniform noise over the blobs' bounding box."""
    from sklearn.datasets import make_blobs as sklearn_blobs

    n_noise = n // 20
    points, _ = sklearn_blobs(n - n_noise, n_features=d, centers=centers, random_state=seed)
    rng = np.random.default_rng(seed)
    noise = rng.uniform(points.min(axis=0), points.max(axis=0), size=(n_noise, d))
    return np.vstack([points, noise])[rng.permutation(n)]


def directions(n, d, latent=3, seed=0):
    """Clusters of directions near a low-dimensional structure, as embeddings sit: 12
    Gaussian clusters of varied spread in a 3-dimensional latent space, mapped into d
    columns by a fixed random linear map, with a little noise (1e-3) in every column.
    Rows keep their lengths, which vary with the latent point."""
    rng = np.random.default_rng(seed)
    n_centres = 12
    centres = rng.uniform(-10.0, 10.0, size=(n_centres, latent))
    scales = rng.uniform(0.3, 1.5, size=n_centres)
    which = rng.integers(0, n_centres, n)
    latent_points = centres[which] + rng.normal(size=(n, latent)) * scales[which, None]
    mixing = rng.normal(size=(latent, d))
    return latent_points @ mixing + 1e-3 * rng.normal(size=(n, d))


def unit_rows(data):
    """The rows scaled to unit length (rows of zeros stay zero)."""
    norms = np.linalg.norm(data, axis=1, keepdims=True)
    return data / np.where(norms == 0.0, 1.0, norms)


def write_matrix(path, data):
    """Rows and columns as two little-endian unsigned 64-bit integers, then the rows."""
    with open(path, "wb") as f:
        np.array(data.shape, dtype="<u8").tofile(f)
        np.ascontiguousarray(data, dtype="<f8").tofile(f)


def fastest(call, repeats=3):
    """The shortest of `repeats` timed calls, in seconds."""
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best
