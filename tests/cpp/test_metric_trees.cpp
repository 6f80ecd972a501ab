#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "distance/distance.hpp"
#include "mst/metric_trees.hpp"
#include "mst/mutual_reachability.hpp"
#include "mst/prim/prim.hpp"
#include "search_space/tree_spaces.hpp"
#include "tree_support.hpp"
#include "union_find/union_find.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

std::string name_of(const Metric& metric) {
    switch (metric.kind) {
        case MetricKind::Manhattan:
            return "manhattan";
        case MetricKind::Cosine:
            return "cosine";
        default:
            return "minkowski p=" + std::to_string(metric.p);
    }
}

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

// The tree route against the dense route, which evaluates every pair with
// compute_distance: the same core distances bit for bit, and edges that form a minimum
// spanning tree of the same graph. The dense edges are one; the tree's edges must span
// the points, weigh exactly the mutual reachability of their ends (recomputed here from
// compute_distance), and have the same sorted weights, hence the same total: so they are
// a minimum spanning tree too, and give the same hierarchy. Two thread counts must give
// the same edges in the same order.
void expect_tree_route_exact(const DataMatrix& data, const Metric& metric, std::size_t k,
                             double alpha, const std::string& what) {
    SCOPED_TRACE(what + ", " + name_of(metric) + ", k " + std::to_string(k));
    const MstResult dense = prim_dense_mst(data, metric, k, alpha, ExecutionContext(1));
    const std::optional<MstResult> one =
        metric_tree_mst(data, metric, alpha, k, ExecutionContext(1));
    const std::optional<MstResult> two =
        metric_tree_mst(data, metric, alpha, k, ExecutionContext(2));
    ASSERT_TRUE(one && two);
    const std::size_t n = data.rows;
    ASSERT_EQ(one->core_distances.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(bits(one->core_distances[i]), bits(dense.core_distances[i]))
            << "core distance of row " << i << ": " << one->core_distances[i] << " vs "
            << dense.core_distances[i];
    }
    ASSERT_EQ(one->edges, two->edges) << "edges depend on the thread count";
    ASSERT_EQ(one->core_distances, two->core_distances);
    ASSERT_EQ(one->edges.size(), n - 1);

    UnionFind sets(n);
    std::vector<double> tree_weights;
    for (const MstEdge& e : one->edges) {
        const std::size_t lo = std::min(e.a, e.b);
        const std::size_t hi = std::max(e.a, e.b);
        const double d = compute_distance(data.row_span(lo), data.row_span(hi), metric);
        const double w =
            mutual_reachability(one->core_distances[lo], one->core_distances[hi], d, alpha);
        ASSERT_EQ(bits(e.weight), bits(w)) << "edge " << e.a << " - " << e.b;
        ASSERT_NE(sets.find(e.a), sets.find(e.b)) << "cycle at " << e.a << " - " << e.b;
        sets.unite(sets.find(e.a), sets.find(e.b));
        tree_weights.push_back(e.weight);
    }
    std::vector<double> dense_weights;
    for (const MstEdge& e : dense.edges)
        dense_weights.push_back(e.weight);
    std::sort(tree_weights.begin(), tree_weights.end());
    std::sort(dense_weights.begin(), dense_weights.end());
    for (std::size_t i = 0; i < tree_weights.size(); ++i)
        ASSERT_EQ(bits(tree_weights[i]), bits(dense_weights[i])) << "sorted weight " << i;
}

const std::vector<Metric>& tree_metrics() {
    static const std::vector<Metric> metrics = {
        Metric::manhattan(),    Metric::minkowski(1.0), Metric::minkowski(1.5),
        Metric::minkowski(2.0), Metric::minkowski(3.0), Metric::minkowski(INF),
        Metric::cosine(),
    };
    return metrics;
}

// Clustered values; exact ties on integer grids (duplicate rows, equal distances, equal
// core distances); a large offset with a small spread, where rounding of the boxes and of
// the differences shows; near-duplicates one ulp apart.
DataMatrix adversarial(std::size_t n, std::size_t d, unsigned seed, int kind) {
    DataMatrix m = testing::random_matrix(n, d, seed, kind == 1 ? 4 : 0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < d; ++j) {
            double& v = m.at(i, j);
            if (kind == 0) v = 3.0 * static_cast<double>(i % 5) + v;
            if (kind == 2) v = 1e6 + 1e-4 * v;
            if (kind == 3 && i % 2 == 1) v = std::nextafter(m.at(i - 1, j), 2.0);
        }
    }
    return m;
}

TEST(MetricTrees, MatchDenseRouteOnEveryMetric) {
    unsigned seed = 100;
    for (const Metric& metric : tree_metrics()) {
        for (const std::size_t d : {1u, 3u, 5u}) {
            for (int kind = 0; kind < 4; ++kind) {
                ++seed;
                const DataMatrix data = adversarial(700, d, seed, kind);
                expect_tree_route_exact(data, metric, 1 + seed % 7, seed % 3 == 0 ? 0.7 : 1.0,
                                        "d " + std::to_string(d) + " kind " + std::to_string(kind) +
                                            " seed " + std::to_string(seed));
            }
        }
    }
}

// Wide cosine data goes through the ball tree.
TEST(MetricTrees, WideCosineMatchesDenseRoute) {
    for (const int kind : {0, 1}) {
        const DataMatrix data = adversarial(600, 24, 31u + static_cast<unsigned>(kind), kind);
        expect_tree_route_exact(data, Metric::cosine(), 5, 1.0, "24 columns");
    }
}

// Clusters of directions near a three-dimensional structure in ten columns, as embeddings
// sit, through the KD-tree: noise of 1e-6 puts many cosine distances near 1e-12, a few
// times the unit rows' margin, and copies scaled by powers of two share the direction of
// their row exactly, so equal distances and equal core distances abound.
TEST(MetricTrees, CosineDirectionsInTenColumnsMatchDenseRoute) {
    constexpr std::size_t d = 10;
    constexpr std::size_t latent = 3;
    std::mt19937_64 rng(61);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> centres(6 * latent);
    std::vector<double> mixing(latent * d);
    for (double& value : centres)
        value = 4.0 * normal(rng);
    for (double& value : mixing)
        value = normal(rng);
    DataMatrix data(1200, d);
    for (std::size_t i = 0; i < data.rows; ++i) {
        if (i % 4 == 3) {
            for (std::size_t j = 0; j < d; ++j)
                data.at(i, j) = std::ldexp(data.at(i - 1, j), static_cast<int>(i % 3) - 1);
            continue;
        }
        const double* centre = centres.data() + (i % 6) * latent;
        const double spread = i % 5 == 0 ? 1e-6 : 0.3;
        double z[latent];
        for (std::size_t l = 0; l < latent; ++l)
            z[l] = centre[l] + spread * normal(rng);
        for (std::size_t j = 0; j < d; ++j) {
            double value = 1e-6 * normal(rng);
            for (std::size_t l = 0; l < latent; ++l)
                value += z[l] * mixing[l * d + j];
            data.at(i, j) = value;
        }
    }
    for (const std::size_t k : {2u, 5u, 9u})
        expect_tree_route_exact(data, Metric::cosine(), k, 1.0, "directions in 10 columns");
}

// Rows of zeros are at cosine distance 0 from every row: with z of them the core
// distances shift by z neighbours, and the spanning tree is a star around one of them.
TEST(MetricTrees, CosineRowsOfZeros) {
    DataMatrix data = adversarial(400, 3, 41, 1);
    for (const std::size_t row : {0u, 17u, 18u, 250u})
        std::fill_n(data.row(row), 3, 0.0);
    for (const std::size_t k : {1u, 4u, 5u, 6u, 12u})
        expect_tree_route_exact(data, Metric::cosine(), k, 1.0, "four rows of zeros");
    expect_tree_route_exact(data, Metric::cosine(), 6, 0.5, "four rows of zeros, alpha");
    const DataMatrix zeros(30, 4);
    expect_tree_route_exact(zeros, Metric::cosine(), 3, 1.0, "only zeros");
}

// Rows whose sums of squares are subnormal leave the margins of the cosine space, and powers
// that could overflow those of the Minkowski space: the trees decline them.
TEST(MetricTrees, DeclineDataOutsideTheirMargins) {
    DataMatrix tiny = testing::random_matrix(50, 3, 5);
    std::fill_n(tiny.row(7), 3, 1e-155);
    EXPECT_FALSE(metric_tree_mst(tiny, Metric::cosine(), 1.0, 3));
    // Squares that underflow to 0 make a row of zeros for the kernel, and so for the trees.
    std::fill_n(tiny.row(7), 3, 1e-200);
    expect_tree_route_exact(tiny, Metric::cosine(), 3, 1.0, "underflowing row");
    DataMatrix huge = testing::random_matrix(50, 3, 6);
    huge.at(3, 1) = 1e80;
    EXPECT_FALSE(metric_tree_mst(huge, Metric::minkowski(13.0), 1.0, 3));
    EXPECT_TRUE(metric_tree_mst(huge, Metric::minkowski(3.0), 1.0, 3));
    EXPECT_TRUE(metric_tree_mst(huge, Metric::manhattan(), 1.0, 3));
}

// The pruning bounds of the Minkowski family over the KD-tree, checked against every row
// of every node: lower() of a box bound never exceeds the kernel's distance to a row of
// the box, and a box bound never reaches the limit of a distance above the nearest row.
template <class Space>
void expect_box_bounds_hold(const DataMatrix& data, const Space& space, const DataMatrix& queries,
                            const std::string& what) {
    SCOPED_TRACE(what);
    const KdTree tree = KdTree::build(data);
    std::size_t violations = 0;
    for (std::size_t q = 0; q < queries.rows; ++q) {
        const double* point = queries.row(q);
        for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
            double nearest = INF;
            for (std::size_t p = tree.nodes[node].start; p < tree.nodes[node].end; ++p)
                nearest = std::min(nearest, space.exact(point, tree.row(p), tree.dims));
            const double bound = box_bound<DYNAMIC_DIMS>(tree, node, point, space);
            violations += space.lower(bound) > nearest ? 1 : 0;
            violations += bound >= space.limit(std::nextafter(nearest, INF)).bound ? 1 : 0;
        }
    }
    for (std::size_t a = 0; a < tree.nodes.size(); a += 7) {
        for (std::size_t b = 0; b < tree.nodes.size(); b += 5) {
            double nearest = INF;
            for (std::size_t p = tree.nodes[a].start; p < tree.nodes[a].end; ++p) {
                for (std::size_t r = tree.nodes[b].start; r < tree.nodes[b].end; ++r)
                    nearest = std::min(nearest, space.exact(tree.row(p), tree.row(r), tree.dims));
            }
            violations += node_gap(tree, space, a, b) > nearest ? 1 : 0;
        }
    }
    EXPECT_EQ(violations, 0u);
}

TEST(MetricTrees, MinkowskiBoxBoundsHoldAfterRounding) {
    unsigned seed = 200;
    for (const int kind : {0, 1, 2, 3}) {
        for (const std::size_t d : {2u, 7u}) {
            ++seed;
            DataMatrix data = adversarial(300, d, seed, kind);
            DataMatrix queries = adversarial(40, d, seed + 50, kind);
            // Queries just outside a box face make the bounds tight.
            for (std::size_t q = 0; q < 10; ++q)
                queries.at(q, 0) = std::nextafter(data.at(q * 13, 0), -INF);
            const std::string what = "kind " + std::to_string(kind) + " d " + std::to_string(d);
            expect_box_bounds_hold(data, ManhattanSpace{}, queries, what + " manhattan");
            expect_box_bounds_hold(data, ChebyshevSpace{}, queries, what + " chebyshev");
            for (const double p : {1.5, 3.0, 7.0}) {
                expect_box_bounds_hold(data,
                                       MinkowskiSpace<metric_kernels::GeneralMinkowski>({p}, p, d),
                                       queries, what + " p " + std::to_string(p));
            }
            expect_box_bounds_hold(data, MinkowskiSpace<metric_kernels::Euclidean>({}, 2.0, d),
                                   queries, what + " p 2");
        }
    }
    // Differences of subnormal size raised to a power.
    DataMatrix tiny = testing::random_matrix(200, 3, 7);
    for (double& v : tiny.values)
        v *= 1e-160;
    expect_box_bounds_hold(tiny, MinkowskiSpace<metric_kernels::GeneralMinkowski>({3.0}, 3.0, 3),
                           tiny, "subnormal powers");
}

// The cosine space's bounds over both trees of unit rows: lower() of the squared chord
// between boxes or balls never exceeds the kernel's distance between their rows.
TEST(MetricTrees, CosineChordBoundsHoldAfterRounding) {
    for (const int kind : {0, 1, 2, 3}) {
        for (const std::size_t d : {2u, 20u}) {
            DataMatrix data = adversarial(300, d, 300u + static_cast<unsigned>(kind), kind);
            const CosineRows rows = prepare_cosine_rows(data).value();
            const auto check = [&](const auto& tree) {
                const CosineTreeRows exact(data, rows, tree);
                const CosineSpace space = exact.space();
                std::size_t violations = 0;
                for (std::size_t a = 0; a < tree.nodes.size(); a += 3) {
                    for (std::size_t b = 0; b < tree.nodes.size(); b += 2) {
                        double nearest = INF;
                        for (std::size_t p = tree.nodes[a].start; p < tree.nodes[a].end; ++p) {
                            for (std::size_t r = tree.nodes[b].start; r < tree.nodes[b].end; ++r)
                                nearest = std::min(nearest, p == r ? 0.0 : space.pair(tree, p, r));
                        }
                        violations += node_gap(tree, space, a, b) > nearest ? 1 : 0;
                    }
                }
                EXPECT_EQ(violations, 0u) << "kind " << kind << " d " << d;
            };
            check(KdTree::build(rows.unit));
            check(BallTree::build(rows.unit));
        }
    }
}

}  // namespace
}  // namespace corvane
