"""No growth of memory or reference counts over many calls, errors included."""

import gc
import os
import sys
import tracemalloc

import numpy as np
import pytest

from corvane import HDBSCAN


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def exercise(data, bad_inputs):
    model = HDBSCAN(min_cluster_size=4)
    model.fit(data)
    model.fit_predict(data)
    for name in (
        "labels_",
        "probabilities_",
        "outlier_scores_",
        "cluster_persistence_",
        "n_features_in_",
    ):
        getattr(model, name)
    repr(model)
    model.all_points_membership_vectors()
    model.all_points_membership_vectors(top_k=2)
    model.membership_vectors(data[:5], top_k=2)
    model.approximate_outlier_scores(data[:5])
    for top_k in (0, "2"):
        try:
            model.membership_vectors(data[:5], top_k=top_k)
        except ValueError:
            pass
    for bad in bad_inputs:
        try:
            model.fit(bad)
        except (TypeError, ValueError, MemoryError):
            pass
    for kwargs in (
        {"min_cluster_size": 1},
        {"metric": "bogus"},
        {"alpha": None},
        {"min_cluster_size": -1},
    ):
        try:
            HDBSCAN(**kwargs)
        except (TypeError, ValueError, OverflowError):
            pass


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_repeated_calls_do_not_grow_memory_or_references():
    rng = np.random.default_rng(0)
    data = rng.normal(size=(40, 2))
    nan_data = data.copy()
    nan_data[3, 1] = np.nan
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(10**12, 3), strides=(0, 0))
    bad_inputs = [
        nan_data,
        [[1.0, 2.0]],
        np.zeros((3, 2), dtype=np.int64),
        np.zeros((0, 2)),
        data[:2],
        huge,
    ]
    counts_before = [sys.getrefcount(x) for x in (data, nan_data, huge)]

    for _ in range(200):  # warm up caches and allocator pools
        exercise(data, bad_inputs)
    gc.collect()
    tracemalloc.start()
    rss_before = resident_bytes()
    snapshot_before = tracemalloc.take_snapshot()
    for _ in range(3000):
        exercise(data, bad_inputs)
    gc.collect()
    traced = tracemalloc.take_snapshot().compare_to(snapshot_before, "filename")
    tracemalloc.stop()
    grown = sum(stat.size_diff for stat in traced if stat.size_diff > 0)
    rss_growth = resident_bytes() - rss_before

    assert [sys.getrefcount(x) for x in (data, nan_data, huge)] == counts_before
    assert grown < 64 * 1024, f"Python allocations grew by {grown} bytes"
    # AddressSanitizer holds freed blocks in quarantine, so resident memory
    # says nothing under it; its own leak check covers the native side.
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):
        assert rss_growth < 8 * 1024 * 1024, f"resident memory grew by {rss_growth} bytes"
