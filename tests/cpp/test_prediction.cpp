#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "block_search/block_tree.hpp"
#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "prediction/prediction.hpp"
#include "tree_support.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A model over `data` with brute-force core distances (k-th nearest, itself included)
// and random labels (about a fifth noise) and probabilities.
FittedModel make_model(const DataMatrix& data, const Metric& metric, std::size_t k, unsigned seed) {
    FittedModel model;
    model.metric = metric;
    model.training_data = data;
    std::vector<double> distances(data.rows);
    for (std::size_t i = 0; i < data.rows; ++i) {
        for (std::size_t j = 0; j < data.rows; ++j)
            distances[j] = compute_distance(data.row_span(i), data.row_span(j), metric);
        std::nth_element(distances.begin(), distances.begin() + static_cast<long>(k - 1),
                         distances.end());
        model.core_distances.push_back(distances[k - 1]);
    }
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> label(-1, 3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::size_t i = 0; i < data.rows; ++i) {
        model.labels.push_back(label(rng));
        model.probabilities.push_back(model.labels.back() < 0 ? 0.0 : unit(rng));
    }
    return model;
}

// The rule written out once more, independently of the library's helpers: scan in index
// order, skip NaN distances, replace on a strictly smaller reachability.
Prediction literal_predict(const FittedModel& model, const DataMatrix& points) {
    Prediction out;
    std::vector<double> x(points.cols);
    for (std::size_t i = 0; i < points.rows; ++i) {
        for (std::size_t c = 0; c < points.cols; ++c)
            x[c] = std::ldexp(points.at(i, c), model.magnitude_shift);
        std::size_t best = 0;
        double r = INF;
        for (std::size_t j = 0; j < model.n(); ++j) {
            const double d = model.metric.kind == MetricKind::Precomputed
                                 ? x[j]
                                 : compute_distance(PointView(x.data(), x.size()),
                                                    model.training_data.row_span(j), model.metric);
            if (std::isnan(d)) continue;
            const double mr = std::max(d, model.core_distances[j]);
            if (mr < r) {
                best = j;
                r = mr;
            }
        }
        if (r == INF || model.labels[best] < 0) {
            out.labels.push_back(r == INF ? -1 : model.labels[best]);
            out.probabilities.push_back(0.0);
            continue;
        }
        double p = model.probabilities[best];
        const double c = model.core_distances[best];
        if (c < r && c > 0.0 && 1.0 / c != INF) {
            p *= std::min((r > 0.0 ? 1.0 / r : INF) / (1.0 / c), 1.0);
        }
        out.labels.push_back(model.labels[best]);
        out.probabilities.push_back(p);
    }
    return out;
}

void expect_same(const Prediction& expected, const Prediction& got, const std::string& what) {
    ASSERT_EQ(expected.labels.size(), got.labels.size()) << what;
    ASSERT_EQ(expected.probabilities.size(), got.probabilities.size()) << what;
    for (std::size_t i = 0; i < expected.labels.size(); ++i) {
        EXPECT_EQ(expected.labels[i], got.labels[i]) << what << ", row " << i;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(expected.probabilities[i]),
                  std::bit_cast<std::uint64_t>(got.probabilities[i]))
            << what << ", row " << i << ": " << expected.probabilities[i] << " vs "
            << got.probabilities[i];
    }
}

// Every route on one batch: the literal loop, the exhaustive scan and, for Euclidean
// models, the index, each on one thread and on several.
void expect_all_routes_agree(const FittedModel& model, const DataMatrix& points,
                             const std::string& what) {
    const Prediction expected = literal_predict(model, points);
    for (const std::size_t threads : {1u, 3u}) {
        const std::string label = what + ", " + std::to_string(threads) + " threads";
        expect_same(
            expected,
            approximate_predict_exhaustive(model, points, ExecutionContext(threads)).value(),
            label + ", exhaustive");
        if (!uses_euclidean_distance(model.metric)) continue;
        const TrainingIndex index = TrainingIndex::build(model.training_data, model.core_distances);
        expect_same(expected,
                    approximate_predict(model, index, points, ExecutionContext(threads)).value(),
                    label + ", index");
    }
}

// 1-D training points with hand-set core distances. Rows: 0..2 a cluster at 0, 1, 2;
// 3 noise at 30; 4 alone at 100 (core 0.5); 5 and 6 at 54 and 50, whose equal
// reachability from 52 must go to index 5 although a tree meets 50 first; 7 at 70 with a
// huge core distance.
FittedModel worked_model() {
    FittedModel model;
    model.metric = Metric::euclidean();
    model.training_data = testing::matrix_from(1, {0, 1, 2, 30, 100, 54, 50, 70});
    model.core_distances = {1, 0.5, 1, 3, 0.5, 1, 1, 40};
    model.labels = {0, 0, 0, -1, 2, 3, 4, 5};
    model.probabilities = {0.9, 0.7, 0.6, 0.0, 0.8, 0.3, 0.35, 1.0};
    return model;
}

TEST(ApproximatePredict, WorkedCases) {
    FittedModel model = worked_model();
    const DataMatrix points = testing::matrix_from(1, {1, 101, 52, 30.5, 70.5, 106, 21});
    for (const std::size_t threads : {1u, 2u}) {
        const Prediction got =
            approximate_predict(model, points, ExecutionContext(threads)).value();
        // On a training point inside its core distance: its probability exactly.
        EXPECT_EQ(got.labels[0], 0);
        EXPECT_EQ(got.probabilities[0], 0.7);
        // At distance 2c: exactly half.
        EXPECT_EQ(got.labels[1], 2);
        EXPECT_EQ(got.probabilities[1], 0.4);
        // Equal reachability 2 from 52: the lower index.
        EXPECT_EQ(got.labels[2], 3);
        EXPECT_EQ(got.probabilities[2], 0.15);
        // Nearest is noise.
        EXPECT_EQ(got.labels[3], -1);
        EXPECT_EQ(got.probabilities[3], 0.0);
        // 70 is nearer by distance, but its core distance makes 54 nearer by reachability.
        EXPECT_EQ(got.labels[4], 3);
        EXPECT_EQ(got.probabilities[4], 0.3 * ((1.0 / 16.5) / (1.0 / 1.0)));
        // (1/6) / (1/0.5), formed from the reciprocals.
        EXPECT_EQ(got.labels[5], 2);
        EXPECT_EQ(got.probabilities[5], 0.8 * ((1.0 / 6.0) / (1.0 / 0.5)));
        // From 21, noise at 30 (reachability 9) beats the cluster's edge at 2 (19).
        EXPECT_EQ(got.labels[6], -1);
        EXPECT_EQ(got.probabilities[6], 0.0);
    }
    expect_all_routes_agree(model, points, "worked model");
}

// The pruning bounds hold after rounding: no row's computed distance falls below its
// node's floor. The queries make the bounds tight: each lies beyond a node's row farthest
// from the centroid, on the line from the centroid through it (where the ball's bound is
// exact), or just outside a box face; data far from the origin with a small spread makes
// the rounding of the large centroid distances and radii show.
template <class Tree>
void expect_floors_hold(const DataMatrix& data, unsigned seed) {
    const Tree tree = Tree::build(data);
    const auto floor = [&tree](std::size_t node, const double* point, double* scratch) {
        if constexpr (std::is_same_v<Tree, BlockTree>) {
            return tree.distance_floor(node, point);
        } else {
            return DistanceFloor<Tree>(tree)(node, point, scratch);
        }
    };
    const std::size_t dims = data.cols;
    std::vector<double> queries;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> step(0.0, 2.0);
    for (std::size_t node = 0; node < tree.nodes.size(); node += 3) {
        const std::size_t pos = tree.nodes[node].start;
        const double* row = tree.tree_data.data() + pos * dims;
        const double t = step(rng);
        for (std::size_t c = 0; c < dims; ++c) {
            double centre = 0.0;
            if constexpr (std::is_same_v<Tree, BlockTree>) centre = tree.centroid(node)[c];
            queries.push_back(std::is_same_v<Tree, BlockTree> ? row[c] + t * (row[c] - centre)
                                                              : (c == 0 ? row[c] - t : row[c]));
        }
    }
    std::vector<double> scratch(dims);
    std::size_t violations = 0;
    for (std::size_t q = 0; q < queries.size() / dims; ++q) {
        const double* point = queries.data() + q * dims;
        for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
            const double bound = floor(node, point, scratch.data());
            for (std::size_t pos = tree.nodes[node].start; pos < tree.nodes[node].end; ++pos) {
                const double* row = tree.tree_data.data() + pos * dims;
                const double d = euclidean_distance(PointView(point, dims), PointView(row, dims));
                violations += d < bound ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(violations, 0u) << "seed " << seed;
}

TEST(ApproximatePredict, DistanceFloorsHoldAfterRounding) {
    for (unsigned seed = 70; seed < 76; ++seed) {
        const std::size_t dims = 1 + (seed % 3) * 9;
        DataMatrix data = testing::random_matrix(400, dims, seed);
        for (double& v : data.values)
            v = 1e6 + v * (seed % 2 == 0 ? 1e-3 : 1.0);
        expect_floors_hold<KdTree>(data, seed);
        expect_floors_hold<BlockTree>(data, seed);
    }
}

// Fast routes against the literal loop on random models: clustered and uniform data,
// integer grids full of duplicates and equal core distances, new points that repeat
// training points or lie far outside, from 1 to 40 columns (KD-tree up to 16, block tree
// above).
TEST(ApproximatePredict, IndexMatchesExhaustiveBitForBit) {
    unsigned seed = 0;
    for (const std::size_t dims : {1u, 2u, 3u, 5u, 8u, 9u, 16u, 17u, 24u, 40u}) {
        for (const int levels : {0, 3}) {
            ++seed;
            const std::size_t n = dims > 16 ? 700 : 1200;
            DataMatrix data = testing::random_matrix(n, dims, seed, levels);
            for (std::size_t i = 0; i < n / 2 && levels == 0; ++i) {
                for (std::size_t c = 0; c < dims; ++c)
                    data.at(i, c) = 0.05 * data.at(i, c) + static_cast<double>(i % 3);
            }
            const FittedModel model = make_model(data, Metric::euclidean(), 1 + seed % 6, seed);
            DataMatrix points = testing::random_matrix(300, dims, seed + 1000, levels);
            for (std::size_t i = 0; i < 60; ++i) {
                for (std::size_t c = 0; c < dims; ++c) {
                    points.at(i, c) = i < 30 ? data.at(i * 7, c) : points.at(i, c) * 1e3 - 400;
                }
            }
            const TrainingIndex index =
                TrainingIndex::build(model.training_data, model.core_distances);
            EXPECT_EQ(index.tree.index(), dims <= TrainingIndex::MAX_KD_DIMS ? 0u : 1u);
            expect_all_routes_agree(
                model, points, "dims " + std::to_string(dims) + " seed " + std::to_string(seed));
        }
    }
}

TEST(ApproximatePredict, EveryMetricMatchesTheLiteralLoop) {
    const Metric metrics[] = {Metric::manhattan(),    Metric::cosine(),
                              Metric::minkowski(1.0), Metric::minkowski(2.0),
                              Metric::minkowski(3.5), Metric::minkowski(INF)};
    unsigned seed = 50;
    for (const Metric& metric : metrics) {
        ++seed;
        const DataMatrix data = testing::random_matrix(400, 4, seed, seed % 2 == 0 ? 4 : 0);
        FittedModel model = make_model(data, metric, 3, seed);
        const DataMatrix points = testing::random_matrix(300, 4, seed + 7, seed % 2 == 0 ? 4 : 0);
        expect_all_routes_agree(model, points, "metric p " + std::to_string(metric.p));
        expect_same(literal_predict(model, points), approximate_predict(model, points).value(),
                    "default route");
    }
}

// Unusable new points get -1 and 0.0 in a batch whose other rows are predicted normally;
// under Chebyshev a NaN coordinate is skipped and the point is predicted on the others.
TEST(ApproximatePredict, NonFiniteNewPoints) {
    const DataMatrix data = testing::random_matrix(500, 2, 7);
    DataMatrix points = testing::random_matrix(8, 2, 8);
    points.at(1, 0) = NaN;
    points.at(2, 1) = INF;
    points.at(3, 0) = -INF;
    points.at(4, 0) = NaN;
    points.at(4, 1) = NaN;
    points.at(5, 0) = 1e200;  // finite, but every squared distance overflows
    for (const Metric& metric : {Metric::euclidean(), Metric::manhattan(), Metric::minkowski(3)}) {
        FittedModel model = make_model(data, metric, 4, 9);
        std::fill(model.labels.begin(), model.labels.end(), 1);
        std::fill(model.probabilities.begin(), model.probabilities.end(), 0.5);
        expect_all_routes_agree(model, points, "metric p " + std::to_string(metric.p));
        const Prediction got = approximate_predict(model, points, ExecutionContext(1)).value();
        for (const std::size_t row : {1u, 2u, 3u, 4u}) {
            EXPECT_EQ(got.labels[row], -1) << "row " << row;
            EXPECT_EQ(got.probabilities[row], 0.0) << "row " << row;
        }
        for (const std::size_t row : {0u, 6u, 7u})
            EXPECT_EQ(got.labels[row], 1) << "row " << row;
        if (metric.kind == MetricKind::Euclidean) {
            EXPECT_EQ(got.labels[5], -1);
        }
    }
    FittedModel chebyshev = make_model(data, Metric::minkowski(INF), 4, 9);
    std::fill(chebyshev.labels.begin(), chebyshev.labels.end(), 1);
    std::fill(chebyshev.probabilities.begin(), chebyshev.probabilities.end(), 0.5);
    expect_all_routes_agree(chebyshev, points, "chebyshev");
    const Prediction got = approximate_predict(chebyshev, points, ExecutionContext(1)).value();
    EXPECT_EQ(got.labels[1], 1);
    EXPECT_GT(got.probabilities[1], 0.0);
    EXPECT_EQ(got.labels[4], 1);  // every coordinate skipped: distance 0 to everything
}

TEST(ApproximatePredict, RowSplitDoesNotChangeResults) {
    const DataMatrix data = testing::random_matrix(600, 3, 21, 5);
    const DataMatrix points = testing::random_matrix(1100, 3, 22, 5);
    for (const Metric& metric : {Metric::euclidean(), Metric::cosine()}) {
        FittedModel model = make_model(data, metric, 5, 23);
        const Prediction one = approximate_predict(model, points, ExecutionContext(1)).value();
        for (const std::size_t threads : {2u, 4u, 7u}) {
            expect_same(one, approximate_predict(model, points, ExecutionContext(threads)).value(),
                        std::to_string(threads) + " threads");
        }
    }
}

// X holds distances to the training points: the same answers as the Euclidean model of
// the same points and core distances, and the fit's rules for bad values.
TEST(ApproximatePredict, PrecomputedDistances) {
    const DataMatrix data = testing::random_matrix(300, 3, 31, 4);
    const DataMatrix points = testing::random_matrix(280, 3, 32, 4);
    FittedModel euclidean = make_model(data, Metric::euclidean(), 4, 33);
    FittedModel model = euclidean;
    model.metric = Metric::precomputed();
    model.training_data = DataMatrix(data.rows, data.rows);
    for (std::size_t i = 0; i < data.rows; ++i) {
        for (std::size_t j = 0; j < data.rows; ++j)
            model.training_data.at(i, j) = euclidean_distance(data.row_span(i), data.row_span(j));
    }
    DataMatrix distances(points.rows, data.rows);
    for (std::size_t i = 0; i < points.rows; ++i) {
        for (std::size_t j = 0; j < data.rows; ++j)
            distances.at(i, j) = euclidean_distance(points.row_span(i), data.row_span(j));
    }
    expect_same(approximate_predict(euclidean, points).value(),
                approximate_predict(model, distances, ExecutionContext(3)).value(), "precomputed");
    expect_all_routes_agree(model, distances, "precomputed");

    DataMatrix bad = distances;
    bad.at(2, 5) = -1.0;
    bad.at(3, 0) = NaN;
    EXPECT_EQ(approximate_predict(model, bad).error().kind, ErrorKind::PrecomputedNegative);
    bad.at(1, 7) = INF;
    EXPECT_EQ(approximate_predict(model, bad).error().kind, ErrorKind::NonFiniteInput);
    bad.at(0, 0) = -0.0;  // not below zero
    EXPECT_EQ(approximate_predict(model, bad).error().kind, ErrorKind::NonFiniteInput);
    const DataMatrix narrow = testing::matrix_from(2, {NaN, -1.0});
    const HdbscanError error = approximate_predict(model, narrow).error();
    EXPECT_EQ(error.kind, ErrorKind::DimensionMismatch);
    EXPECT_EQ(error.first, 300u);
    EXPECT_EQ(error.second, 2u);
}

TEST(ApproximatePredict, ChecksAndEmptyInputs) {
    FittedModel model = worked_model();
    for (const std::size_t cols : {0u, 1u, 5u}) {
        const Prediction empty = approximate_predict(model, DataMatrix(0, cols)).value();
        EXPECT_TRUE(empty.labels.empty());
        EXPECT_TRUE(empty.probabilities.empty());
    }
    const HdbscanError error = approximate_predict(model, DataMatrix(2, 3)).error();
    EXPECT_EQ(error.message(), "dimension mismatch: model fitted with 1 features, got 3");
    EXPECT_FALSE(approximate_predict_exhaustive(model, DataMatrix(1, 0)).has_value());

    FittedModel broken = model;
    broken.core_distances.pop_back();
    EXPECT_THROW((void)approximate_predict(broken, DataMatrix(1, 1)), InternalError);
    const FittedModel other =
        make_model(testing::random_matrix(9, 1, 3), Metric::euclidean(), 2, 3);
    const TrainingIndex index = TrainingIndex::build(other.training_data, other.core_distances);
    EXPECT_THROW((void)approximate_predict(model, index, DataMatrix(1, 1)), InternalError);
}

// Without columns every distance is 0: the smallest core distance wins, lowest index on
// ties, on every route.
TEST(ApproximatePredict, NoColumns) {
    FittedModel model = make_model(DataMatrix(40, 0), Metric::euclidean(), 1, 41);
    for (std::size_t i = 0; i < 40; ++i)
        model.core_distances[i] = static_cast<double>((i * 7) % 5 + 1);
    model.labels[0] = 3;
    model.labels[5] = 4;  // the same core distance as row 0
    expect_all_routes_agree(model, DataMatrix(4, 0), "no columns");
    EXPECT_EQ(approximate_predict(model, DataMatrix(1, 0)).value().labels[0], 3);
}

// A fit of data 2^-600 times `data` stores `data` itself with shift 600 (and the core
// distances it computed there): new points in true units must give exactly what the
// unshifted model gives for the unscaled points.
TEST(ApproximatePredict, MagnitudeShift) {
    const DataMatrix data = testing::random_matrix(500, 3, 51);
    const DataMatrix points = testing::random_matrix(100, 3, 52);
    DataMatrix tiny = points;
    for (double& v : tiny.values)
        v = std::ldexp(v, -600);
    for (const Metric& metric : {Metric::euclidean(), Metric::minkowski(3.0)}) {
        FittedModel plain = make_model(data, metric, 4, 53);
        FittedModel shifted = plain;
        shifted.magnitude_shift = 600;
        expect_same(approximate_predict(plain, points).value(),
                    approximate_predict(shifted, tiny).value(), "shift");
        expect_all_routes_agree(shifted, tiny, "shift");
    }
}

// The model's training index measures exhaustively until the rows so predicted reach the
// threshold, then keeps an index; failed calls count nothing; other metrics never build
// one; a copy of the model starts without one.
TEST(LazyTrainingIndex, BuildsTheIndexOncePaidFor) {
    const DataMatrix data = testing::random_matrix(1000, 2, 61);
    FittedModel model = make_model(data, Metric::euclidean(), 5, 62);
    const std::size_t threshold = LazyTrainingIndex::index_threshold(model.n());
    const DataMatrix points = testing::random_matrix(threshold, 2, 63);
    DataMatrix almost(threshold - 1, 2);
    std::copy_n(points.values.begin(), almost.values.size(), almost.values.begin());

    FittedModel big_batch = model;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(approximate_predict(model, DataMatrix(threshold, 3)).has_value());
    expect_same(literal_predict(model, almost), approximate_predict(model, almost).value(),
                "before");
    EXPECT_FALSE(model.training_index.built());
    expect_same(literal_predict(model, testing::matrix_from(2, {0.5, 0.5})),
                approximate_predict(model, testing::matrix_from(2, {0.5, 0.5})).value(), "switch");
    EXPECT_TRUE(model.training_index.built());
    expect_same(literal_predict(model, points), approximate_predict(model, points).value(),
                "after");
    const FittedModel copy = model;
    EXPECT_FALSE(copy.training_index.built());

    (void)approximate_predict(big_batch, points);
    EXPECT_TRUE(big_batch.training_index.built());

    FittedModel manhattan = make_model(data, Metric::manhattan(), 5, 62);
    for (int i = 0; i < 3; ++i)
        (void)approximate_predict(manhattan, points);
    EXPECT_FALSE(manhattan.training_index.built());
}

}  // namespace
}  // namespace corvane
