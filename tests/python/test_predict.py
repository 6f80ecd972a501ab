"""approximate_predict: order of checks, messages, returned arrays, and equality with a
brute-force loop written here with the native code's summation orders."""

import math

import numpy as np
import pytest

from corvane import HDBSCAN

BAD_ARRAY = "Expected a 2-D numpy array with dtype float32 or float64"
NOT_FITTED = "model has not been fitted yet"


def clustered(seed, n=240, d=2, levels=None):
    """Three blobs plus background; with `levels`, values snapped to a grid of that many
    steps per unit, so that duplicates and equal distances are common."""
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-10, 10, size=(3, d))
    x = centres[np.arange(n) % 3] + rng.normal(size=(n, d))
    x[::9] = rng.uniform(-14, 14, size=x[::9].shape)
    return np.round(x * levels) / levels if levels else x


# Distances from one point x to every row of t, column by column in index order like
# the native kernels, so that every sum rounds the same way.
def euclidean(x, t):
    sq = (x - t) * (x - t)
    d = sq.shape[1]
    if d < 8:
        total = np.zeros(len(t))
        for c in range(d):
            total = total + sq[:, c]
        return np.sqrt(total)
    lanes = [np.zeros(len(t)) for _ in range(4)]
    blocked = d - d % 4
    for c in range(blocked):
        lanes[c % 4] = lanes[c % 4] + sq[:, c]
    for c in range(blocked, d):
        lanes[0] = lanes[0] + sq[:, c]
    return np.sqrt((lanes[0] + lanes[1]) + (lanes[2] + lanes[3]))


def manhattan(x, t):
    total = np.full(len(t), -0.0)
    for c in range(t.shape[1]):
        total = total + np.abs(x[c] - t[:, c])
    return total


def cosine(x, t):
    dot, na, nb = np.zeros(len(t)), np.zeros(len(t)), np.zeros(len(t))
    with np.errstate(invalid="ignore", divide="ignore"):
        for c in range(t.shape[1]):
            dot, na, nb = dot + x[c] * t[:, c], na + x[c] * x[c], nb + t[:, c] * t[:, c]
        den = np.sqrt(na) * np.sqrt(nb)
        cos = np.clip(dot / den, -1.0, 1.0)
    return np.where(den == 0.0, 0.0, 1.0 - cos)


def chebyshev(x, t):
    largest = np.zeros(len(t))
    for c in range(t.shape[1]):
        diff = np.abs(x[c] - t[:, c])
        largest = np.where(diff > largest, diff, largest)
    return largest


def minkowski(p):
    power = np.frompyfunc(math.pow, 2, 1)

    def distance(x, t):
        total = np.full(len(t), -0.0)
        for c in range(t.shape[1]):
            total = total + power(np.abs(x[c] - t[:, c]), p).astype(float)
        return power(total, 1.0 / p).astype(float)

    return distance


METRICS = {
    "euclidean": (euclidean, {}),
    "manhattan": (manhattan, {}),
    "l1": (manhattan, {}),
    "cosine": (cosine, {}),
    "minkowski-1": (manhattan, {"p": 1.0}),
    "minkowski-2": (euclidean, {"p": 2.0}),
    "minkowski-3.5": (minkowski(3.5), {"p": 3.5}),
    "minkowski-inf": (chebyshev, {"p": math.inf}),
}


def core_distances(train, k, distance):
    """The fit's core distances: the k-th smallest distance of each row, itself at 0."""
    rows = []
    for i, x in enumerate(train):
        d = distance(x, train)
        d[i] = 0.0
        rows.append(np.sort(d)[k - 1])
    return np.array(rows)


def reference_predict(model, core, distances):
    """The rule written out: `distances` holds one row of distances per new point."""
    labels, probabilities = [], []
    for d in distances:
        mr = np.where(np.isnan(d), np.nan, np.maximum(d, core))
        finite = np.isfinite(mr)
        if not finite.any():
            labels.append(-1)
            probabilities.append(0.0)
            continue
        r = mr[finite].min()
        best = int(np.flatnonzero(mr == r)[0])
        label = int(model.labels_[best])
        p, c = float(model.probabilities_[best]), float(core[best])
        if label < 0:
            p = 0.0
        elif c < r and c > 0.0 and 1.0 / c != math.inf:
            p *= min((1.0 / r if r > 0.0 else math.inf) / (1.0 / c), 1.0)
        labels.append(label)
        probabilities.append(p)
    return np.array(labels, dtype=np.int32), np.array(probabilities)


def assert_bitwise_equal(got, expected):
    assert got[0].dtype == np.int32 and got[1].dtype == np.float64
    np.testing.assert_array_equal(got[0], expected[0])
    np.testing.assert_array_equal(got[1].view(np.int64), expected[1].view(np.int64))


def fitted(x=None, **params):
    return HDBSCAN(min_cluster_size=8, min_samples=4, **params).fit(
        clustered(0) if x is None else x
    )


def test_signature_and_docstring():
    assert HDBSCAN.approximate_predict.__text_signature__ == "($self, X)"
    assert HDBSCAN.approximate_predict.__doc__ == (
        "Predict cluster labels for new points.\n\nParameters\n----------\n"
        "X : numpy.ndarray of shape (n_samples, n_features)\n    New data points.\n\n"
        "Returns\n-------\nlabels : numpy.ndarray of shape (n_samples,)\n"
        "    Predicted cluster labels.\nprobabilities : numpy.ndarray of shape (n_samples,)\n"
        "    Prediction confidence."
    )


def test_order_of_checks_and_messages():
    unfitted = HDBSCAN()
    for bad in ([[1.0, 2.0]], np.zeros(2), np.zeros((2, 2), dtype=np.int64)):
        with pytest.raises(TypeError, match=f"^{BAD_ARRAY}$"):
            unfitted.approximate_predict(bad)
    for shape in [(3, 2), (0, 2), (0, 0)]:
        with pytest.raises(ValueError, match=f"^{NOT_FITTED}$"):
            unfitted.approximate_predict(np.zeros(shape))

    model = fitted()
    with pytest.raises(TypeError, match=f"^{BAD_ARRAY}$"):
        model.approximate_predict([[1.0, 2.0]])
    for width in (0, 2, 3, 17):
        labels, probabilities = model.approximate_predict(np.zeros((0, width)))
        assert labels.dtype == np.int32 and labels.shape == (0,)
        assert probabilities.dtype == np.float64 and probabilities.shape == (0,)
    for width in (0, 1, 3):
        with pytest.raises(ValueError) as error:
            model.approximate_predict(np.full((2, width), np.nan))
        assert str(error.value) == (
            f"dimension mismatch: model fitted with 2 features, got {width}"
        )
    with pytest.raises(TypeError):
        model.approximate_predict()
    with pytest.raises(TypeError):
        model.approximate_predict(np.zeros((1, 2)), np.zeros((1, 2)))
    assert model.approximate_predict(X=np.zeros((1, 2)))[0].shape == (1,)


def test_returned_arrays_are_fresh():
    model = fitted()
    x = clustered(5, n=30)
    labels, probabilities = result = model.approximate_predict(x)
    assert isinstance(result, tuple) and len(result) == 2
    for array in result:
        assert array.ndim == 1 and array.shape == (30,)
        assert array.flags.c_contiguous and array.flags.writeable
    again = model.approximate_predict(x)
    assert not np.shares_memory(labels, again[0])
    labels[:] = 99
    probabilities[:] = -1.0
    assert_bitwise_equal(model.approximate_predict(x), again)
    assert_bitwise_equal(
        model.approximate_predict(x.astype(np.float32)),
        model.approximate_predict(x.astype(np.float32).astype(np.float64)),
    )


# Small batches first (measured against every training point), then a large one (which
# builds the spatial index for Euclidean models), each equal to the loop bit for bit.
@pytest.mark.parametrize("name", list(METRICS))
@pytest.mark.parametrize("levels", [None, 2])
def test_matches_brute_force_under_every_metric(name, levels):
    distance, extra = METRICS[name]
    metric = name.split("-")[0]
    d = 2 if name in ("euclidean", "minkowski-2") else 3
    train = clustered(1, n=200, d=d, levels=levels)
    model = fitted(train, metric=metric, **extra)
    core = core_distances(train, 4, distance)
    new = np.vstack([clustered(2, n=150, d=d, levels=levels), train[:20], 40 * train[:10]])
    new[3, 0] = np.nan
    new[4, 1] = np.inf
    for batch in (new[:3], new[3:10], new):
        expected = reference_predict(model, core, [distance(x, train) for x in batch])
        assert_bitwise_equal(model.approximate_predict(batch), expected)


# With min_samples=1 every core distance is 0 whatever route the fit took, so many
# columns can be compared too (four-lane sums from 8 columns, ball tree above 16).
@pytest.mark.parametrize("d", [5, 12, 24])
def test_euclidean_many_columns(d):
    train = clustered(3, n=150, d=d, levels=1)
    model = HDBSCAN(min_cluster_size=5, min_samples=1).fit(train)
    new = clustered(4, n=120, d=d)
    expected = reference_predict(model, np.zeros(150), [euclidean(x, train) for x in new])
    assert_bitwise_equal(model.approximate_predict(new), expected)


def test_unusable_points_get_noise_in_an_ordinary_batch():
    train = clustered(6)
    model = fitted(train)
    new = np.array([train[0], [np.nan, 1.0], [np.inf, 0.0], [-np.inf, np.inf], [1e200, 0.0]])
    labels, probabilities = model.approximate_predict(new)
    assert labels[0] == model.labels_[0]
    np.testing.assert_array_equal(labels[1:], -1)
    np.testing.assert_array_equal(probabilities[1:], 0.0)

    # Chebyshev skips NaN coordinates: such points are predicted from the others, and a
    # point without any is at distance 0 from everything (the smallest core distance wins).
    skipping = fitted(train, metric="minkowski", p=math.inf)
    core = core_distances(train, 4, chebyshev)
    densest = int(np.argmin(core))
    assert skipping.labels_[densest] >= 0
    new = np.array([[np.nan, train[densest, 1]], [np.nan, np.nan], [np.nan, np.inf]])
    labels, probabilities = skipping.approximate_predict(new)
    assert_bitwise_equal(
        (labels, probabilities),
        reference_predict(skipping, core, [chebyshev(x, train) for x in new]),
    )
    assert labels[0] >= 0 and probabilities[0] > 0.0
    assert labels[1] == skipping.labels_[densest]
    assert labels[2] == -1


def test_precomputed_rows_are_distances_to_the_training_points():
    points = clustered(7, n=120)
    matrix = np.array([euclidean(x, points) for x in points])
    model = fitted(matrix, metric="precomputed")
    new = clustered(8, n=90)
    distances = np.array([euclidean(x, points) for x in new])
    core = np.array([np.sort(row)[3] for row in matrix])
    assert_bitwise_equal(
        model.approximate_predict(distances), reference_predict(model, core, distances)
    )
    for first, second, message in [
        (-1.0, np.nan, "precomputed distance matrix contains negative values"),
        (np.inf, -1.0, "input data contains NaN or infinite values"),
    ]:
        bad = distances.copy()
        bad[1, 5], bad[2, 0] = first, second
        with pytest.raises(ValueError, match=f"^{message}$"):
            model.approximate_predict(bad)
    with pytest.raises(ValueError, match="^dimension mismatch: model fitted with 120 features"):
        model.approximate_predict(distances[:, :119])


def test_magnitude_shift():
    train, new = clustered(9), clustered(10, n=100)
    plain = fitted(train)
    expected = plain.approximate_predict(new)
    exact = fitted(train * 2.0**996)
    np.testing.assert_array_equal(exact.labels_, plain.labels_)
    assert_bitwise_equal(exact.approximate_predict(new * 2.0**996), expected)
    huge = fitted(train * 1e300)
    labels, probabilities = huge.approximate_predict(new * 1e300)
    np.testing.assert_array_equal(labels, expected[0])
    np.testing.assert_allclose(probabilities, expected[1], rtol=1e-12)


def test_refit_replaces_what_prediction_sees():
    model = fitted()
    new = clustered(11, n=200)
    model.approximate_predict(new)
    train = clustered(12, n=200)
    model.fit(train)
    expected = reference_predict(
        model, core_distances(train, 4, euclidean), [euclidean(x, train) for x in new]
    )
    assert_bitwise_equal(model.approximate_predict(new), expected)
    model.fit(clustered(13, d=3))
    assert model.approximate_predict(np.zeros((1, 3)))[0].shape == (1,)
    with pytest.raises(ValueError, match="fitted with 3 features, got 2"):
        model.approximate_predict(new)
