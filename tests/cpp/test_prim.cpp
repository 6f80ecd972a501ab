#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "mst/mutual_reachability.hpp"
#include "mst/prim/prim.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::same_bits;
using testing::sorted_weights;

constexpr double infinity = std::numeric_limits<double>::infinity();

DataMatrix matrix_of(std::size_t rows, std::size_t cols, const std::vector<double>& values) {
    DataMatrix m(rows, cols);
    m.values = values;
    return m;
}

DataMatrix random_matrix(std::size_t rows, std::size_t cols, std::uint64_t seed,
                         bool integer_valued = false) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<int> small(-2, 2);
    DataMatrix m(rows, cols);
    for (double& v : m.values)
        v = integer_valued ? small(rng) : normal(rng);
    return m;
}

std::vector<MstEdge> edges_of(const std::vector<std::vector<double>>& rows) {
    std::vector<MstEdge> out;
    for (const auto& r : rows)
        out.push_back({static_cast<std::size_t>(r[0]), static_cast<std::size_t>(r[1]), r[2]});
    return out;
}

// Same vertices in the same order; weights with the same bits, or within a
// relative `tolerance` when one is given.
::testing::AssertionResult same_edges(const std::vector<MstEdge>& a, const std::vector<MstEdge>& b,
                                      double tolerance = -1.0) {
    if (a.size() != b.size()) {
        return ::testing::AssertionFailure() << a.size() << " vs " << b.size() << " edges";
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const bool weights_match = tolerance < 0.0 ? std::bit_cast<std::uint64_t>(a[i].weight) ==
                                                         std::bit_cast<std::uint64_t>(b[i].weight)
                                                   : std::fabs(a[i].weight - b[i].weight) <=
                                                         tolerance * std::fabs(b[i].weight);
        if (a[i].a != b[i].a || a[i].b != b[i].b || !weights_match) {
            return ::testing::AssertionFailure()
                   << "edge " << i << ": (" << a[i].a << ", " << a[i].b << ", " << a[i].weight
                   << ") vs (" << b[i].a << ", " << b[i].b << ", " << b[i].weight << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

// The dense route written the straightforward way: every distance list sorted
// in full, the whole mutual-reachability matrix stored, Prim with visited flags.
MstResult stored_matrix_prim(const DataMatrix& data, const Metric& metric, std::size_t k,
                             double alpha) {
    const std::size_t n = data.rows;
    const bool precomputed = metric.kind == MetricKind::Precomputed;
    const auto entry = [&](std::size_t i, std::size_t j) {
        if (precomputed) return data.at(i, j);
        return i == j ? 0.0 : compute_distance(data.row_span(i), data.row_span(j), metric);
    };
    const auto nan_last = [](double a, double b) {
        return a < b || (std::isnan(b) && !std::isnan(a));
    };
    MstResult result;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::pair<double, std::size_t>> row;
        for (std::size_t j = 0; j < n; ++j)
            row.emplace_back(entry(i, j), j);
        std::sort(row.begin(), row.end(), [&](const auto& a, const auto& b) {
            if (nan_last(a.first, b.first)) return true;
            if (nan_last(b.first, a.first)) return false;
            return a.second < b.second;
        });
        result.core_distances.push_back(row[k - 1].first);
    }
    if (n <= 1) return result;
    const std::vector<double>& c = result.core_distances;
    std::vector<double> m(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const double d = precomputed ? data.at(i, j) : entry(i, j);
            m[i * n + j] = m[j * n + i] = mutual_reachability(c[i], c[j], d, alpha);
        }
    }
    std::vector<char> visited(n, 0);
    std::vector<double> best(n);
    std::vector<std::size_t> nearest(n, 0);
    visited[0] = 1;
    for (std::size_t j = 1; j < n; ++j)
        best[j] = m[j];
    while (result.edges.size() < n - 1) {
        std::size_t v = n;
        double lightest = infinity;
        for (std::size_t u = 0; u < n; ++u) {
            if (!visited[u] && best[u] < lightest) {
                lightest = best[u];
                v = u;
            }
        }
        if (v == n)
            v = static_cast<std::size_t>(std::find(visited.begin(), visited.end(), 0) -
                                         visited.begin());
        result.edges.push_back({nearest[v], v, best[v]});
        visited[v] = 1;
        for (std::size_t u = 0; u < n; ++u) {
            if (!visited[u] && nan_last(m[v * n + u], best[u])) {
                best[u] = m[v * n + u];
                nearest[u] = v;
            }
        }
    }
    return result;
}

std::string metric_name(const Metric& metric) {
    switch (metric.kind) {
        case MetricKind::Euclidean:
            return "euclidean";
        case MetricKind::Manhattan:
            return "manhattan";
        case MetricKind::Cosine:
            return "cosine";
        case MetricKind::Minkowski:
            return "minkowski p=" + std::to_string(metric.p);
        case MetricKind::Precomputed:
            return "precomputed";
    }
    return "?";
}

// All Euclidean routes on one input with k = 1 and alpha = 1; squared weights
// must agree here because the examples are exact in binary.
void expect_euclidean_routes(const DataMatrix& data, const std::vector<MstEdge>& expected) {
    EXPECT_TRUE(same_edges(prim_dense_mst(data, Metric::euclidean(), 1, 1.0).edges, expected));
    EXPECT_TRUE(same_edges(prim_dense_mst(data, Metric::minkowski(2.0), 1, 1.0).edges, expected));
    EXPECT_TRUE(same_edges(
        prim_euclidean_mst(data, euclidean_brute_core_distances(data, 1), 1.0).edges, expected));
}

TEST(Prim, CollinearPoints) {
    const DataMatrix data = matrix_of(4, 1, {0, 1, 2, 3});
    expect_euclidean_routes(data, edges_of({{0, 1, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}}));
    EXPECT_TRUE(same_edges(prim_dense_mst(data, Metric::manhattan(), 1, 1.0).edges,
                           edges_of({{0, 1, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}})));
}

TEST(Prim, LowerVertexWinsEqualWeights) {
    expect_euclidean_routes(matrix_of(3, 2, {0, 0, 1, 0, 0, 1}),
                            edges_of({{0, 1, 1.0}, {0, 2, 1.0}}));
    // The weight from vertex 1 to vertex 2 equals the one from vertex 0 and
    // must not replace it.
    expect_euclidean_routes(matrix_of(3, 2, {0, 0, 1, 0, 0.5, 1.5}),
                            edges_of({{0, 1, 1.0}, {0, 2, std::sqrt(2.5)}}));
    // The same ties through a precomputed matrix.
    const double r = std::sqrt(2.5);
    EXPECT_TRUE(same_edges(
        prim_dense_mst(matrix_of(3, 3, {0, 1, r, 1, 0, r, r, r, 0}), Metric::precomputed(), 1, 1.0)
            .edges,
        edges_of({{0, 1, 1.0}, {0, 2, r}})));
}

TEST(Prim, AlphaScalesDistances) {
    const DataMatrix data = matrix_of(4, 2, {0, 0, 2, 0, 2, 3, 7, 3});
    const std::vector<MstEdge> half_euclidean = edges_of({{0, 1, 1.0}, {1, 2, 1.5}, {2, 3, 2.5}});
    EXPECT_TRUE(
        same_edges(prim_dense_mst(data, Metric::euclidean(), 1, 2.0).edges, half_euclidean));
    EXPECT_TRUE(same_edges(prim_euclidean_mst(data, {0, 0, 0, 0}, 2.0).edges, half_euclidean));
    EXPECT_TRUE(same_edges(prim_dense_mst(data, Metric::manhattan(), 1, 2.0).edges,
                           edges_of({{0, 1, 1.0}, {1, 2, 1.5}, {2, 3, 2.5}})));
    // Chebyshev: d(0, 2) = d(1, 2) = 3 and d(1, 3) = d(2, 3) = 5; the vertex
    // that joined the tree first keeps each tie.
    EXPECT_TRUE(same_edges(prim_dense_mst(data, Metric::minkowski(infinity), 1, 2.0).edges,
                           edges_of({{0, 1, 1.0}, {0, 2, 1.5}, {1, 3, 2.5}})));
}

// Rows are neither symmetric nor zero on the diagonal. Core distances (k = 2)
// take the second smallest entry of the whole row, diagonal included:
// row 0 {5, 1, 4, 9} -> 4, row 1 {7, 0.5, 2, 8} -> 2, row 2 {3, 3, 6, 1} -> 3,
// row 3 {9, 9, 9, 2} -> 9. The tree reads only the entries above the diagonal;
// the lower triangle holds tempting small values that must be ignored.
TEST(Prim, PrecomputedReadsUpperTriangleForTheTree) {
    const DataMatrix d = matrix_of(4, 4,
                                   {5, 1, 4, 9,    //
                                    7, 0.5, 2, 8,  //
                                    3, 3, 6, 1,    //
                                    9, 9, 9, 2});
    const MstResult result = prim_dense_mst(d, Metric::precomputed(), 2, 1.0);
    EXPECT_TRUE(same_bits(result.core_distances, {4, 2, 3, 9}));
    // mr(0,1) = max(4, 2, 1) = 4, mr(0,2) = max(4, 3, 4) = 4, mr(0,3) = 9,
    // mr(1,2) = max(2, 3, 2) = 3, mr(1,3) = 9, mr(2,3) = max(3, 9, 1) = 9.
    EXPECT_TRUE(same_edges(result.edges, edges_of({{0, 1, 4.0}, {1, 2, 3.0}, {0, 3, 9.0}})));

    const MstResult k1 = prim_dense_mst(d, Metric::precomputed(), 1, 0.5);
    EXPECT_TRUE(same_bits(k1.core_distances, {1, 0.5, 1, 2}));
    // k = 1, alpha = 0.5: weights max(c(i), c(j), 2 D[i][j]) over i < j.
    EXPECT_TRUE(same_edges(k1.edges, edges_of({{0, 1, 2.0}, {1, 2, 4.0}, {2, 3, 2.0}})));
}

TEST(Prim, SinglePoint) {
    const DataMatrix point = matrix_of(1, 3, {1, 2, 3});
    for (const Metric& metric : {Metric::euclidean(), Metric::manhattan(), Metric::cosine()}) {
        const MstResult result = prim_dense_mst(point, metric, 1, 1.0);
        EXPECT_TRUE(same_bits(result.core_distances, {0.0}));
        EXPECT_TRUE(result.edges.empty());
    }
    const MstResult precomputed =
        prim_dense_mst(matrix_of(1, 1, {0.25}), Metric::precomputed(), 1, 1.0);
    EXPECT_TRUE(same_bits(precomputed.core_distances, {0.25}));
    EXPECT_TRUE(precomputed.edges.empty());
    EXPECT_TRUE(same_bits(euclidean_brute_core_distances(point, 1), {0.0}));
    EXPECT_TRUE(prim_euclidean_mst(point, {0.0}, 0.5).edges.empty());
}

TEST(Prim, BadArgumentsAreInternalErrors) {
    const DataMatrix data = random_matrix(5, 2, 1);
    EXPECT_THROW(prim_dense_mst(data, Metric::manhattan(), 0, 1.0), InternalError);
    EXPECT_THROW(prim_dense_mst(data, Metric::manhattan(), 6, 1.0), InternalError);
    EXPECT_THROW(prim_dense_mst(data, Metric::precomputed(), 1, 1.0), InternalError);
    EXPECT_THROW(euclidean_brute_core_distances(data, 0), InternalError);
    EXPECT_THROW(prim_euclidean_mst(data, {0, 0, 0}, 1.0), InternalError);
}

struct DenseCase {
    std::size_t n;
    std::size_t d;
    std::size_t k;
    double alpha;
    bool integer_valued;  // many exact ties and duplicate points
};

// The linear-memory dense route must give exactly the stored-matrix edges: same
// order, same bits. Integer-valued data exercises the tie rules, alpha != 1 the
// division, and huge coordinates the NaN distances of overflowing cosine sums.
TEST(Prim, DenseRouteMatchesStoredMatrix) {
    const std::vector<Metric> metrics{
        Metric::euclidean(),    Metric::manhattan(),         Metric::cosine(),
        Metric::minkowski(1.0), Metric::minkowski(2.0),      Metric::minkowski(1.5),
        Metric::minkowski(3.0), Metric::minkowski(infinity), Metric::precomputed()};
    const std::vector<DenseCase> cases{{2, 3, 1, 1.0, false},  {9, 1, 3, 1.0, true},
                                       {40, 3, 5, 1.0, false}, {40, 2, 4, 0.7, true},
                                       {60, 9, 2, 1.3, false}, {33, 5, 33, 1.0, true}};
    std::uint64_t seed = 7000;
    for (const Metric& metric : metrics) {
        for (const DenseCase& c : cases) {
            ++seed;
            DataMatrix data = random_matrix(c.n, c.d, seed, c.integer_valued);
            if (metric.kind == MetricKind::Precomputed) {
                data = random_matrix(c.n, c.n, seed, c.integer_valued);
                // Zeros alternate in sign: -0.0 passes validation, and its bits
                // reveal which operand a maximum or a selection returned.
                for (std::size_t i = 0; i < data.values.size(); ++i) {
                    double& v = data.values[i];
                    v = std::fabs(v);
                    if (v == 0.0 && i % 2 == 1) v = -0.0;
                }
            }
            SCOPED_TRACE(::testing::Message()
                         << metric_name(metric) << " seed " << seed << " n " << c.n << " d " << c.d
                         << " k " << c.k << " alpha " << c.alpha);
            const MstResult expected = stored_matrix_prim(data, metric, c.k, c.alpha);
            const MstResult actual = prim_dense_mst(data, metric, c.k, c.alpha);
            EXPECT_TRUE(same_bits(actual.core_distances, expected.core_distances));
            EXPECT_TRUE(same_edges(actual.edges, expected.edges));
        }
    }

    // Two groups far apart in magnitude: cosine distances within the huge group
    // are NaN, so some core distances and weights are NaN as well.
    DataMatrix mixed = random_matrix(12, 2, 99);
    for (std::size_t i = 0; i < 9; ++i) {
        mixed.at(i, 0) = 1e200 * (1.0 + static_cast<double>(i));
        mixed.at(i, 1) = 3e200;
    }
    for (std::size_t k : {1, 3, 5, 12}) {
        SCOPED_TRACE(::testing::Message() << "huge cosine rows, k " << k);
        const MstResult expected = stored_matrix_prim(mixed, Metric::cosine(), k, 1.0);
        const MstResult actual = prim_dense_mst(mixed, Metric::cosine(), k, 1.0);
        EXPECT_TRUE(same_bits(actual.core_distances, expected.core_distances));
        EXPECT_TRUE(same_edges(actual.edges, expected.edges));
    }
}

// Non-negative entries, zeros alternating in sign as in the test above.
DataMatrix random_distance_matrix(std::size_t n, std::uint64_t seed, bool integer_valued) {
    DataMatrix data = random_matrix(n, n, seed, integer_valued);
    for (std::size_t i = 0; i < data.values.size(); ++i) {
        double& v = data.values[i];
        v = std::fabs(v);
        if (v == 0.0 && i % 2 == 1) v = -0.0;
    }
    return data;
}

void expect_same_for_threads(const DataMatrix& data, const Metric& metric, std::size_t k,
                             double alpha, const MstResult& expected) {
    for (std::size_t threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        const MstResult actual = prim_dense_mst(data, metric, k, alpha, ExecutionContext(threads));
        EXPECT_TRUE(same_bits(actual.core_distances, expected.core_distances));
        EXPECT_TRUE(same_edges(actual.edges, expected.edges));
    }
}

// Core distances are shared out by rows from 256 rows, or by tiles of 256 x
// 256 pairs (an odd number of row blocks at 1025 and 1100 rows); the tree's
// updates while at least 1024 vertices remain, in blocks of 256 positions
// taken in turn, the rest on one thread. Around those sizes, with exact ties
// between vertices of different blocks, every thread count must give the
// stored-matrix bits.
TEST(Prim, DenseRouteIndependentOfThreads) {
    struct Case {
        Metric metric;
        std::size_t n;
        std::size_t d;
        std::size_t k;
        double alpha;
    };
    // Core distances take one of three forms: pairs evaluated once for both
    // rows up to k = 16, then a heap per row while k is at most 1/16 of the
    // row, then selection in the whole row; each is met at its edges.
    const std::vector<Case> cases{
        {Metric::manhattan(), 255, 2, 16, 1.0},    {Metric::cosine(), 256, 3, 17, 1.0},
        {Metric::minkowski(3.0), 257, 2, 16, 0.8}, {Metric::minkowski(infinity), 300, 2, 5, 1.0},
        {Metric::manhattan(), 272, 2, 17, 1.0},    {Metric::precomputed(), 256, 0, 16, 1.0},
        {Metric::precomputed(), 256, 0, 17, 1.0},  {Metric::manhattan(), 1024, 2, 5, 1.0},
        {Metric::manhattan(), 1025, 2, 5, 1.0},    {Metric::euclidean(), 1100, 3, 3, 1.0},
        {Metric::minkowski(1.5), 1300, 2, 6, 1.3}, {Metric::precomputed(), 1500, 0, 5, 1.0},
        {Metric::manhattan(), 2000, 1, 2, 1.0}};
    std::uint64_t seed = 12000;
    for (const Case& c : cases) {
        ++seed;
        const bool precomputed = c.metric.kind == MetricKind::Precomputed;
        const DataMatrix data = precomputed ? random_distance_matrix(c.n, seed, true)
                                            : random_matrix(c.n, c.d, seed, true);
        SCOPED_TRACE(::testing::Message() << metric_name(c.metric) << " seed " << seed << " n "
                                          << c.n << " k " << c.k << " alpha " << c.alpha);
        expect_same_for_threads(data, c.metric, c.k, c.alpha,
                                stored_matrix_prim(data, c.metric, c.k, c.alpha));
    }
}

// NaN core distances and weights while the tree is shared out: cosine
// distances between the huge rows are NaN, those to the few ordinary rows 1.
// Vertex 0 is huge, so the first pass stores NaN weights that later passes
// must replace.
TEST(Prim, DenseRouteNaNWeightsIndependentOfThreads) {
    const std::uint64_t seed = 12100;
    DataMatrix data = random_matrix(1400, 2, seed);
    for (std::size_t i = 0; i < data.rows; ++i) {
        if (i % 60 == 50) continue;
        data.at(i, 0) *= 1e200;
        data.at(i, 1) = 3e200;
    }
    for (std::size_t k : {3, 40}) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " k " << k);
        const MstResult expected = stored_matrix_prim(data, Metric::cosine(), k, 1.0);
        // Beyond the 23 ordinary rows the huge rows' core distances are NaN.
        EXPECT_EQ(std::isnan(expected.core_distances[0]), k > 24);
        expect_same_for_threads(data, Metric::cosine(), k, 1.0, expected);
    }
}

// Two groups a whole double range apart: within a group distances are finite,
// across them +infinity. Once the first group is in the tree, with more than
// 1024 vertices left, the lowest-numbered vertex of the second joins through
// an infinite edge from vertex 0, whatever the thread count.
TEST(Prim, DenseRouteDisconnectedIndependentOfThreads) {
    const std::size_t n = 2400;
    DataMatrix data(n, 1);
    for (std::size_t i = 0; i < n; ++i) {
        const double offset = static_cast<double>(i % 13) * 1e295;
        data.at(i, 0) = i % 2 == 0 ? 1.7e308 - offset : -1.7e308 + offset;
    }
    const MstResult one = prim_dense_mst(data, Metric::manhattan(), 3, 1.0, ExecutionContext(1));
    ASSERT_EQ(one.edges.size(), n - 1);
    EXPECT_EQ(std::count_if(one.edges.begin(), one.edges.end(),
                            [](const MstEdge& e) { return std::isinf(e.weight); }),
              1);
    const MstEdge& bridge = one.edges[n / 2 - 1];
    EXPECT_EQ(bridge.a, 0u);
    EXPECT_EQ(bridge.b, 1u);
    EXPECT_TRUE(std::isinf(bridge.weight));
    for (std::size_t threads : {2, 3, 8}) {
        const MstResult many =
            prim_dense_mst(data, Metric::manhattan(), 3, 1.0, ExecutionContext(threads));
        EXPECT_TRUE(same_bits(many.core_distances, one.core_distances)) << threads << " threads";
        EXPECT_TRUE(same_edges(many.edges, one.edges)) << threads << " threads";
    }
}

// The routes on rows (squared and plain weights) against
// the dense route under euclidean. With k = 1 and continuous data there are no
// ties, so the trees must be the same; with k >= 2 core distances create ties
// that squaring may resolve differently, but every minimum spanning tree has
// the same sorted weights. Plain weights round exactly like the dense route's,
// so they must match it bit for bit, ties included.
TEST(Prim, EuclideanRoutesAgreeWithDenseRoute) {
    const std::vector<DenseCase> cases{{2, 17, 1, 1.0, false},   {50, 2, 1, 1.0, false},
                                       {120, 20, 1, 1.0, false}, {90, 7, 3, 1.0, false},
                                       {70, 33, 70, 1.0, false}, {80, 3, 4, 0.6, false},
                                       {64, 18, 1, 1.7, false},  {60, 4, 3, 0.9, true}};
    std::uint64_t seed = 8100;
    for (const DenseCase& c : cases) {
        ++seed;
        const DataMatrix data = random_matrix(c.n, c.d, seed, c.integer_valued);
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " n " << c.n << " d " << c.d
                                          << " k " << c.k << " alpha " << c.alpha);
        const MstResult dense = prim_dense_mst(data, Metric::euclidean(), c.k, c.alpha);
        // sqrt is monotone, so the k-th smallest squared distance gives the same bits.
        const std::vector<double> brute = euclidean_brute_core_distances(data, c.k);
        EXPECT_TRUE(same_bits(brute, dense.core_distances));

        const MstResult rows = prim_euclidean_mst(data, brute, c.alpha);
        EXPECT_TRUE(same_bits(rows.core_distances, brute));
        if (c.alpha != 1.0) {
            EXPECT_TRUE(same_edges(rows.edges, dense.edges));
            continue;
        }
        if (c.k == 1) {
            EXPECT_TRUE(same_edges(rows.edges, dense.edges, 1e-14));
        }
        const std::vector<double> expected = sorted_weights(dense.edges);
        const std::vector<double> from_rows = sorted_weights(rows.edges);
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(from_rows[i], expected[i], 1e-14 * expected[i]) << "weight " << i;
    }
}

}  // namespace
}  // namespace corvane
