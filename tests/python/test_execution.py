"""n_jobs and interruption: the thread cap, results independent of it, and signal
handlers (Ctrl-C) that stop a fit, a prediction or a medoid search."""

import contextlib
import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

from corvane import HDBSCAN


def blobs(seed=0, n=3000, d=2):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-30, 30, size=(5, d))
    return np.round(centres[np.arange(n) % 5] + rng.normal(size=(n, d)), 1)  # with ties


@pytest.mark.parametrize("value", [None, -1, 1, 2, np.int64(3), 10**30])
def test_accepted_n_jobs_and_the_text_form(value):
    model = HDBSCAN(n_jobs=value)
    assert model.n_jobs is value
    text = repr(model)
    if value is None:
        assert text.endswith("allow_single_cluster=false)")
    else:
        assert text.endswith(f"allow_single_cluster=false, n_jobs={int(value)})")


@pytest.mark.parametrize("value", [0, -2, True, False, np.bool_(True), 2.0, "2", [2]])
def test_refused_n_jobs(value):
    message = f"n_jobs must be None, -1 or a positive integer, got {value!r}"
    with pytest.raises(ValueError) as raised:
        HDBSCAN(n_jobs=value)
    assert str(raised.value) == message
    with pytest.raises(TypeError):
        HDBSCAN(5, None, "euclidean", None, 1.0, 0.0, "eom", False, value)  # keyword-only


@pytest.mark.parametrize(
    ("metric", "n", "d"),
    [("euclidean", 6000, 2), ("euclidean", 9000, 18), ("euclidean", 1500, 20), ("l1", 2500, 3)],
)
def test_results_do_not_depend_on_n_jobs(metric, n, d):
    x = blobs(n=n, d=d)
    fits = [HDBSCAN(metric=metric, n_jobs=jobs).fit(x) for jobs in (1, 2, None)]
    new = blobs(seed=1, n=2000, d=d)
    for model in fits[1:]:
        for name in ("labels_", "probabilities_", "outlier_scores_", "cluster_persistence_"):
            assert np.array_equal(getattr(model, name), getattr(fits[0], name)), name
        for a, b in zip(model.approximate_predict(new), fits[0].approximate_predict(new)):
            assert np.array_equal(a, b)


@contextlib.contextmanager
def alarm_handler(handler):
    """`handler` handles SIGALRM inside the block; on leaving it, the timer is stopped and
    the previous handler is back."""
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)


def busy_thread_counts(run):
    """Runs run() while a timer's signal handler, which runs whenever the fit polls for
    signals, counts this process's threads; returns the largest count seen and how
    often it was taken."""
    counts = []
    with alarm_handler(lambda *_: counts.append(len(os.listdir("/proc/self/task")))):
        signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
        run()
    return max(counts, default=0), len(counts)


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_one_job_starts_no_threads():
    x = blobs(n=200_000)
    idle = len(os.listdir("/proc/self/task"))
    most, samples = busy_thread_counts(lambda: HDBSCAN(n_jobs=1).fit(x))
    assert samples > 10
    assert most == idle
    model = HDBSCAN(n_jobs=1).fit(x[:5000])
    most, samples = busy_thread_counts(lambda: model.approximate_predict(x))
    assert samples > 3
    assert most == idle
    # The counting sees the workers of a fit that may start them.
    most, _ = busy_thread_counts(lambda: HDBSCAN(n_jobs=2).fit(x))
    assert most > idle


class Stop(Exception):
    pass


def stop(*_):
    raise Stop


def test_an_exception_from_a_signal_handler_stops_the_fit_and_keeps_the_state():
    model = HDBSCAN(n_jobs=1).fit(blobs(n=500, d=3))
    labels = model.labels_
    x = blobs(n=300_000)
    wide = blobs(n=40_000, d=20)  # manhattan trees prune little in twenty columns: a long fit
    references = sys.getrefcount(x)
    with alarm_handler(stop):
        for jobs in (1, None):
            model.set_params(n_jobs=jobs)
            signal.setitimer(signal.ITIMER_REAL, 0.3)
            with pytest.raises(Stop):
                model.fit(x)
            assert np.array_equal(model.labels_, labels)
            assert model.n_features_in_ == 3  # the interrupted fit's width is not kept
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            with pytest.raises(Stop):
                HDBSCAN(metric="manhattan", n_jobs=jobs).fit(wide)
    assert sys.getrefcount(x) == references
    assert np.array_equal(model.fit_predict(blobs(n=500, d=3)), labels)


def test_a_handler_may_fit_and_predict_on_the_same_object_meanwhile():
    # Twenty columns keep both calls long enough for the timer: the fit below the size at
    # which the trees take over, the prediction's index close to a scan.
    model = HDBSCAN(metric="l1").fit(blobs(n=400, d=20))
    x = blobs(n=30_000, d=20)
    small = blobs(seed=2, n=300, d=20)
    seen = []

    def meddle(*_):
        seen.append(model.fit(small).approximate_predict(small)[0])

    with alarm_handler(meddle):
        signal.setitimer(signal.ITIMER_REAL, 0.05, 0.05)
        labels, probabilities = model.approximate_predict(x)
        # The timer may fire again between the return and the end of the block and refit
        # on the small rows, so the fit's own labels are what it returned.
        fitted_labels = model.fit_predict(x[:6000])
    assert seen
    assert labels.shape == probabilities.shape == (len(x),)
    assert fitted_labels.shape == (6000,)


CHILD = textwrap.dedent(
    """
    import signal, sys, time
    import numpy as np
    import corvane

    # A shell that runs the tests in the background starts them with SIGINT ignored, and
    # Python then keeps it ignored: Ctrl-C must raise here however the suite was started.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    rng = np.random.default_rng(0)
    big = rng.normal(size=(3_000_000, 2))
    model = corvane.HDBSCAN(min_cluster_size=20).fit(big[:2000])
    before = model.labels_
    # In twenty columns the index of the training points prunes little: a long prediction.
    wide = corvane.HDBSCAN(metric="manhattan").fit(rng.normal(size=(3000, 20)))
    queries = rng.normal(size=(1_000_000, 20))
    phases = [
        ("fit", lambda: model.set_params(n_jobs=None).fit(big)),
        ("fit on one thread", lambda: model.set_params(n_jobs=1).fit(big)),
        ("prediction", lambda: wide.approximate_predict(queries)),
        ("soft clustering", lambda: wide.membership_vectors(queries, top_k=2)),
    ]
    for name, run in phases:
        print("start", name, flush=True)
        try:
            run()
            print("finished", name, flush=True)
        except KeyboardInterrupt:
            print("interrupted", name, flush=True)
    assert np.array_equal(model.labels_, before) and model.n_features_in_ == 2
    assert len(model.fit_predict(big[:1000])) == 1000
    print("healthy", flush=True)
    """
)


@pytest.mark.slow
def test_ctrl_c_raises_keyboard_interrupt_within_half_a_second():
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    )
    try:
        for name in ("fit", "fit on one thread", "prediction", "soft clustering"):
            assert child.stdout.readline().strip() == f"start {name}"
            time.sleep(1.0)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            answer = child.stdout.readline().strip()
            delay = time.monotonic() - sent
            assert answer == f"interrupted {name}"
            assert delay < 0.5, f"{name}: KeyboardInterrupt after {delay:.3f} s"
        assert child.stdout.readline().strip() == "healthy"
        assert child.wait(timeout=60) == 0, child.stderr.read()
    finally:
        child.kill()
        child.wait()


def test_medoids_follow_n_jobs_and_stop_for_a_signal_handler():
    # Two clusters spread over 30 dimensions: every sum is measured, for a second or so.
    data = np.random.default_rng(8).normal(size=(6000, 30))
    data[3000:] += 100.0
    model = HDBSCAN(min_cluster_size=100, n_jobs=1).fit(data)
    assert np.bincount(model.labels_ + 1).tolist() == [0, 3000, 3000]
    medoids = model.cluster_medoids()
    assert np.array_equal(model.set_params(n_jobs=None).cluster_medoids(), medoids)
    with alarm_handler(stop):
        for jobs in (1, None):
            model.set_params(n_jobs=jobs)
            signal.setitimer(signal.ITIMER_REAL, 0.05)
            with pytest.raises(Stop):
                model.cluster_medoids()
    assert np.array_equal(model.cluster_medoids(), medoids)
