"""Extreme magnitudes: data times 1e300 or 1e-300 clusters like the data itself."""

import numpy as np
import pytest
from reference import COORDINATE_METRICS, blobs

from corvane import HDBSCAN

METRICS = [*COORDINATE_METRICS, ("minkowski", 1.5)]
SHAPES = [(300, 2), (1200, 3), (600, 20), (9000, 2)]  # Prim and Boruvka routes, both trees


@pytest.mark.parametrize(("metric", "p"), METRICS)
@pytest.mark.parametrize("factor", [1e300, 1e-300, 2.0**-1070])
def test_scaled_data_gives_the_same_clusters(metric, p, factor):
    data = blobs(400, 3, seed=21)
    plain = HDBSCAN(metric=metric, p=p, min_cluster_size=8).fit(data)
    scaled = HDBSCAN(metric=metric, p=p, min_cluster_size=8).fit(data * factor)
    if factor == 2.0**-1070:
        # Subnormal data keeps only a few significant bits: ask only for sane output.
        assert scaled.labels_.min() >= -1
        assert np.all((scaled.probabilities_ >= 0) & (scaled.probabilities_ <= 1))
        return
    assert np.array_equal(scaled.labels_, plain.labels_)
    # 1e300 is not a power of two: the scaled copy rounds differently in the last bits.
    np.testing.assert_allclose(scaled.probabilities_, plain.probabilities_, rtol=1e-9)
    np.testing.assert_allclose(scaled.outlier_scores_, plain.outlier_scores_, rtol=1e-9, atol=1e-12)
    unit = 1.0 if metric == "cosine" else factor  # cosine distances have no scale
    np.testing.assert_allclose(
        scaled.cluster_persistence_, plain.cluster_persistence_ * unit, rtol=1e-9
    )


@pytest.mark.parametrize(("n", "d"), SHAPES)
@pytest.mark.parametrize("exponent", [300, -300])
def test_power_of_two_scaling_is_exact_on_every_route(n, d, exponent):
    data = blobs(n, d, seed=n)
    factor = 2.0**exponent
    plain = HDBSCAN(min_cluster_size=10, min_samples=5).fit(data)
    scaled = HDBSCAN(min_cluster_size=10, min_samples=5).fit(data * factor)
    assert np.array_equal(scaled.labels_, plain.labels_)
    assert np.array_equal(scaled.probabilities_, plain.probabilities_)
    assert np.array_equal(scaled.outlier_scores_, plain.outlier_scores_)
    assert np.array_equal(scaled.cluster_persistence_, plain.cluster_persistence_ * factor)


def test_epsilon_is_compared_in_the_units_of_the_data():
    data = blobs(800, 2, seed=4)
    plain = HDBSCAN(min_cluster_size=10, cluster_selection_epsilon=4.0).fit(data)
    scaled = HDBSCAN(min_cluster_size=10, cluster_selection_epsilon=4.0 * 2.0**900).fit(
        data * 2.0**900
    )
    assert np.array_equal(scaled.labels_, plain.labels_)


def test_precomputed_extremes_are_used_as_they_are():
    data = blobs(300, 2, seed=8)
    distances = np.sqrt(((data[:, None, :] - data[None, :, :]) ** 2).sum(-1))
    plain = HDBSCAN(metric="precomputed").fit(distances)
    scaled = HDBSCAN(metric="precomputed").fit(distances * 2.0**600)
    assert np.array_equal(scaled.labels_, plain.labels_)
    assert np.array_equal(scaled.probabilities_, plain.probabilities_)
