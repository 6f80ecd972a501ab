"""Hostile inputs: degenerate data, extreme values, odd arrays, threads."""

import threading

import numpy as np
import pytest
from reference import assert_same_partition, blobs

from corvane import HDBSCAN


def test_many_identical_points():
    data = np.ones((100_000, 2))
    model = HDBSCAN().fit(data)
    assert np.array_equal(model.labels_, np.full(len(data), -1))
    assert np.array_equal(model.probabilities_, np.zeros(len(data)))
    assert np.array_equal(model.outlier_scores_, np.zeros(len(data)))
    single = HDBSCAN(allow_single_cluster=True).fit(data[:5000])
    assert set(single.labels_.tolist()) <= {-1, 0}
    assert len(set(single.labels_.tolist())) == 1, "identical points share one label"


@pytest.mark.parametrize("n", [400, 6000])
def test_two_distinct_points_repeated(n):
    data = np.repeat([[0.0, 0.0], [5.0, 5.0]], n // 2, axis=0)
    labels = HDBSCAN(min_cluster_size=10).fit_predict(data)
    assert len(set(labels[: n // 2].tolist())) == 1
    assert len(set(labels[n // 2 :].tolist())) == 1


@pytest.mark.parametrize("factor", [1e300, 1e-300])
def test_extreme_values(factor):
    data = blobs(2000, 2, seed=1)
    scaled, plain = HDBSCAN().fit(data * factor), HDBSCAN().fit(data)
    assert_same_partition(scaled.labels_, plain.labels_)
    np.testing.assert_allclose(scaled.probabilities_, plain.probabilities_, rtol=1e-9)


def test_subnormal_values():
    data = blobs(600, 2, seed=2) * 2.0**-1060  # every coordinate subnormal
    model = HDBSCAN().fit(data)
    assert not np.isnan(model.probabilities_).any()
    assert ((model.outlier_scores_ >= 0) & (model.outlier_scores_ <= 1)).all()


def test_one_column_and_zero_columns():
    data = blobs(3000, 1, seed=3)
    labels = HDBSCAN(min_cluster_size=20).fit_predict(data)
    assert labels.max() >= 1
    assert np.array_equal(HDBSCAN().fit_predict(np.empty((5000, 0))), np.full(5000, -1))


def test_min_samples_equal_to_n_and_single_point():
    data = blobs(50, 2, seed=4)
    model = HDBSCAN(min_cluster_size=5, min_samples=50).fit(data)
    assert len(model.labels_) == 50
    one = HDBSCAN(min_samples=1).fit(data[:1])
    assert one.labels_.tolist() == [-1]


def test_read_only_and_memory_mapped_arrays(tmp_path):
    data = blobs(800, 3, seed=5)
    expected = HDBSCAN().fit_predict(data)
    path = tmp_path / "data.npy"
    np.save(path, data)
    mapped = np.load(path, mmap_mode="r")
    assert not mapped.flags.writeable
    assert np.array_equal(HDBSCAN().fit_predict(mapped), expected)
    frozen = data.copy()
    frozen.setflags(write=False)
    assert np.array_equal(HDBSCAN().fit_predict(frozen), expected)


def test_input_too_large_for_memory_is_a_memory_error():
    model = HDBSCAN().fit(blobs(100, 2, seed=6))
    labels = model.labels_
    # A zero-stride view claims 10^12 rows without holding them.
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(10**12, 3), strides=(0, 0))
    with pytest.raises(MemoryError):
        model.fit(huge)
    assert np.array_equal(model.labels_, labels)
    assert model.n_features_in_ == 2, "the array was never converted"


def test_fit_too_large_for_memory_is_refused_before_it_starts():
    model = HDBSCAN().fit(blobs(100, 1, seed=6))
    labels = model.labels_
    # The copy of X (2 GiB) fits; the trees and tables of the fit (over 32 GiB) would not.
    rows = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(2**28, 1), strides=(0, 0))
    with pytest.raises(MemoryError):
        model.fit(rows)
    assert np.array_equal(model.labels_, labels)
    assert model.n_features_in_ == 1


def test_fits_on_several_threads_at_once():
    datasets = [blobs(3000, 2, seed=s) for s in range(4)]
    expected = [HDBSCAN().fit_predict(d) for d in datasets]
    results = [None] * len(datasets)

    def run(i):
        results[i] = HDBSCAN().fit_predict(datasets[i])

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(datasets))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        assert np.array_equal(got, want)


def test_attribute_reads_on_several_threads():
    model = HDBSCAN().fit(blobs(2000, 2, seed=7))
    expected = model.labels_
    failures = []

    def read():
        for _ in range(200):
            if not np.array_equal(model.labels_, expected):
                failures.append(1)

    threads = [threading.Thread(target=read) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
