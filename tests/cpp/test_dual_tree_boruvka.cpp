#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <random>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "common/internal_error.hpp"
#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "mst/dual_tree_boruvka/boruvka_run.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "mst/mutual_reachability.hpp"
#include "tree_common/bottom_up.hpp"
#include "tree_common/tree_shape.hpp"
#include "tree_support.hpp"
#include "union_find/union_find.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::sorted_weights;

constexpr double kInf = std::numeric_limits<double>::infinity();

// Mutual reachability in true units, computed without any tree: the square-root form of
// the squared maximum when alpha is 1, the scaled distance otherwise.
double reference_weight(const DataMatrix& m, const std::vector<double>& core, double alpha,
                        std::size_t a, std::size_t b) {
    const double d_sq = squared_distance(m.row(a), m.row(b), m.cols);
    if (alpha == 1.0) {
        return std::sqrt(std::max({core[a] * core[a], core[b] * core[b], d_sq}));
    }
    return std::max({core[a], core[b], std::sqrt(d_sq) / alpha});
}

// O(n²) Prim over the complete mutual-reachability graph.
std::vector<MstEdge> reference_prim(const DataMatrix& m, const std::vector<double>& core,
                                    double alpha) {
    const std::size_t n = m.rows;
    std::vector<MstEdge> edges;
    if (n <= 1) return edges;
    std::vector<double> best(n, kInf);
    std::vector<std::size_t> nearest(n, 0);
    std::vector<bool> in_tree(n, false);
    std::size_t v = 0;
    in_tree[0] = true;
    for (std::size_t added = 1; added < n; ++added) {
        std::size_t next = n;
        for (std::size_t u = 0; u < n; ++u) {
            if (in_tree[u]) continue;
            const double w = reference_weight(m, core, alpha, v, u);
            if (w < best[u]) {
                best[u] = w;
                nearest[u] = v;
            }
            if (next == n || best[u] < best[next]) next = u;
        }
        edges.push_back({nearest[next], next, best[next]});
        in_tree[next] = true;
        v = next;
    }
    return edges;
}

std::set<std::pair<std::size_t, std::size_t>> pair_set(const std::vector<MstEdge>& edges) {
    std::set<std::pair<std::size_t, std::size_t>> pairs;
    for (const MstEdge& e : edges)
        pairs.insert({std::min(e.a, e.b), std::max(e.a, e.b)});
    return pairs;
}

// With alpha 1 both sides take one root of the same squared maximum, computed with the
// same distance kernel, so the weights agree exactly; otherwise they round differently.
bool same_weight(double got, double expected, double alpha) {
    if (alpha == 1.0) return got == expected;
    return std::abs(got - expected) <= 1e-12 * std::max(1.0, std::abs(expected));
}

// n - 1 edges that never close a cycle (so they span all points), each weighted with the
// mutual reachability of its ends, and the same sorted weights as Prim: every minimum
// spanning tree of a graph has the same multiset of weights. Exact agreement with alpha 1
// also shows that seeding and search compute a pair's distance identically.
void expect_minimum_spanning_tree(const DataMatrix& m, const std::vector<double>& core,
                                  double alpha, const std::vector<MstEdge>& edges) {
    const std::size_t n = m.rows;
    ASSERT_EQ(edges.size(), n - 1);
    UnionFind uf(n);
    for (const MstEdge& e : edges) {
        ASSERT_LT(e.a, n);
        ASSERT_LT(e.b, n);
        ASSERT_NE(uf.find(e.a), uf.find(e.b)) << "cycle at edge " << e.a << "-" << e.b;
        uf.unite(e.a, e.b);
        ASSERT_TRUE(same_weight(e.weight, reference_weight(m, core, alpha, e.a, e.b), alpha))
            << e.a << "-" << e.b << " weight " << e.weight;
    }
    const std::vector<double> got = sorted_weights(edges);
    const std::vector<double> expected = sorted_weights(reference_prim(m, core, alpha));
    double got_total = 0.0;
    double expected_total = 0.0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        ASSERT_TRUE(same_weight(got[i], expected[i], alpha))
            << "weight rank " << i << ": " << got[i] << " vs " << expected[i];
        got_total += got[i];
        expected_total += expected[i];
    }
    EXPECT_NEAR(got_total, expected_total, 1e-9 * expected_total);
}

struct BoruvkaRun {
    CoreDistanceResult core;
    std::vector<MstEdge> edges;
};

template <class Tree>
BoruvkaRun run_boruvka(const DataMatrix& m, std::size_t k, double alpha, std::size_t threads) {
    const ExecutionContext context(threads);
    const Tree tree = Tree::build(m, context);
    BoruvkaRun run;
    run.core = tree_core_distances(m, tree, k, true, context);
    run.edges =
        dual_tree_boruvka(tree, run.core.core_distances, run.core.neighbors, k - 1, alpha, context);
    return run;
}

enum class Shape { Uniform, Clustered, Duplicated };

// Uniform rows in the unit cube; Gaussian blobs of different spreads; or blobs in which a
// fifth of the rows are copies of other rows (zero distances, equal core distances).
DataMatrix make_data(Shape shape, std::size_t n, std::size_t dims, unsigned seed) {
    if (shape == Shape::Uniform) return testing::random_matrix(n, dims, seed);
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(-10.0, 10.0);
    std::vector<double> centres(6 * dims);
    for (double& c : centres)
        c = uniform(rng);
    DataMatrix m(n, dims);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t blob = rng() % 6;
        const double spread = 0.2 + 0.3 * static_cast<double>(blob);
        for (std::size_t j = 0; j < dims; ++j)
            m.at(i, j) = centres[blob * dims + j] + spread * normal(rng);
    }
    if (shape == Shape::Duplicated) {
        for (std::size_t copy = 0; copy < n / 5; ++copy) {
            const std::size_t to = rng() % n;
            const std::size_t from = rng() % n;
            for (std::size_t j = 0; j < dims; ++j)
                m.at(to, j) = m.at(from, j);
        }
    }
    return m;
}

const char* shape_name(Shape s) {
    return s == Shape::Uniform ? "uniform" : s == Shape::Clustered ? "clustered" : "duplicated";
}

// Both trees at every column count (the route picks the KD-tree up to 16 columns and the
// ball tree above, but the search must be right over either).
TEST(DualTreeBoruvka, MatchesPrimOnRandomData) {
    unsigned seed = 100;
    for (const std::size_t dims : {2, 5, 16, 17, 40}) {
        for (const Shape shape : {Shape::Uniform, Shape::Clustered, Shape::Duplicated}) {
            for (const std::size_t k : {1, 2, 5, 15}) {
                ++seed;
                const double alpha = seed % 2 == 0 ? 1.0 : 0.7;
                const std::size_t n = 300 + (seed * 37) % 500;
                const DataMatrix m = make_data(shape, n, dims, seed);
                SCOPED_TRACE(::testing::Message()
                             << "seed " << seed << " " << shape_name(shape) << " n " << n
                             << " dims " << dims << " k " << k << " alpha " << alpha);
                const BoruvkaRun kd = run_boruvka<KdTree>(m, k, alpha, 2);
                expect_minimum_spanning_tree(m, kd.core.core_distances, alpha, kd.edges);
                const BoruvkaRun ball = run_boruvka<BallTree>(m, k, alpha, 2);
                expect_minimum_spanning_tree(m, ball.core.core_distances, alpha, ball.edges);
            }
        }
    }
}

// With k = 1 every weight is the (scaled) distance, all distinct on uniform data, so the
// minimum spanning tree is unique.
TEST(DualTreeBoruvka, SameEdgesAsPrimWithoutTies) {
    for (unsigned seed = 0; seed < 6; ++seed) {
        const std::size_t dims = std::vector<std::size_t>{2, 5, 17}[seed % 3];
        const double alpha = seed < 3 ? 1.0 : 0.7;
        const DataMatrix m = testing::random_matrix(1200, dims, seed);
        const BoruvkaRun kd = run_boruvka<KdTree>(m, 1, alpha, 3);
        const BoruvkaRun ball = run_boruvka<BallTree>(m, 1, alpha, 1);
        const auto expected = pair_set(reference_prim(m, kd.core.core_distances, alpha));
        EXPECT_EQ(pair_set(kd.edges), expected) << "seed " << seed;
        EXPECT_EQ(pair_set(ball.edges), expected) << "seed " << seed;
    }
}

// The split of the search over threads may change which of several equal edges a
// component takes, never the weights. Integer-grid data has many equal weights.
TEST(DualTreeBoruvka, WeightsIndependentOfThreadCount) {
    for (unsigned seed = 0; seed < 4; ++seed) {
        const std::size_t dims = seed % 2 == 0 ? 3 : 20;
        const std::size_t k = seed < 2 ? 1 : 6;
        const DataMatrix m = seed == 0 ? testing::random_matrix(2000, dims, seed, 12)
                                       : make_data(Shape::Duplicated, 2000, dims, seed);
        const auto one = run_boruvka<KdTree>(m, k, 1.0, 1);
        expect_minimum_spanning_tree(m, one.core.core_distances, 1.0, one.edges);
        for (const std::size_t threads : {2, 3, 8, 16}) {
            EXPECT_EQ(sorted_weights(run_boruvka<KdTree>(m, k, 1.0, threads).edges),
                      sorted_weights(one.edges))
                << "seed " << seed << " threads " << threads;
            EXPECT_EQ(sorted_weights(run_boruvka<BallTree>(m, k, 1.0, threads).edges),
                      sorted_weights(one.edges))
                << "seed " << seed << " threads " << threads;
        }
    }
}

// Every step works per point or per component from read-only inputs, or combines partial
// results in a fixed order, with ties broken by fixed keys; the searches of one iteration
// prune with each other's findings only where that cannot change what they report. So the
// edges themselves, in order, are the same for any number of threads and on every run.
// Inputs full of equal weights: integer grids (with many duplicate rows) and duplicated
// blobs; a few runs per thread count, as the searches interleave differently each time.
TEST(DualTreeBoruvka, SameEdgesForAnyThreadCountAndRun) {
    for (unsigned seed = 0; seed < 4; ++seed) {
        const std::size_t dims = std::vector<std::size_t>{2, 3, 20, 5}[seed];
        const DataMatrix m =
            seed < 3 ? testing::random_matrix(seed < 2 ? 3000 : 600, dims, seed, seed < 2 ? 7 : 3)
                     : make_data(Shape::Duplicated, 2000, dims, seed);
        for (const std::size_t k : {1, 5}) {
            const double alpha = k == 1 ? 1.0 : 0.8;
            SCOPED_TRACE(::testing::Message() << "seed " << seed << " dims " << dims << " k " << k);
            const auto expect_same = [&](auto tree_tag) {
                using Tree = decltype(tree_tag);
                const BoruvkaRun one = run_boruvka<Tree>(m, k, alpha, 1);
                ASSERT_EQ(one.edges.size(), m.rows - 1);
                for (const std::size_t threads : {2, 3, 8, 2}) {
                    ASSERT_EQ(run_boruvka<Tree>(m, k, alpha, threads).edges, one.edges)
                        << threads << " threads";
                }
            };
            expect_same(KdTree{});
            expect_same(BallTree{});
        }
    }
}

// A batch's edges are joined in parallel and each cycle of them loses its largest edge.
// On a lattice every point has several nearest neighbours at the same distance, so equal
// weights form cycles of every length within a batch; doubled lattices add zero-weight
// pairs. The tree must be minimal and the same, edge for edge, for any thread count.
TEST(DualTreeBoruvka, LatticeTiesMergeAlikeForAnyThreadCount) {
    for (const bool doubled : {false, true}) {
        for (const std::size_t k : {1, 2, 5}) {
            SCOPED_TRACE(::testing::Message() << "doubled " << doubled << " k " << k);
            std::vector<double> values;
            for (int copy = 0; copy < (doubled ? 2 : 1); ++copy) {
                for (int i = 0; i < 36; ++i) {
                    for (int j = 0; j < 30; ++j) {
                        values.push_back(i);
                        values.push_back(j);
                    }
                }
            }
            const DataMatrix m = testing::matrix_from(2, values);
            const BoruvkaRun one = run_boruvka<KdTree>(m, k, 1.0, 1);
            expect_minimum_spanning_tree(m, one.core.core_distances, 1.0, one.edges);
            for (const std::size_t threads : {2, 5}) {
                EXPECT_EQ(run_boruvka<KdTree>(m, k, 1.0, threads).edges, one.edges)
                    << threads << " threads";
                EXPECT_EQ(run_boruvka<BallTree>(m, k, 1.0, threads).edges,
                          run_boruvka<BallTree>(m, k, 1.0, 1).edges)
                    << threads << " threads";
            }
        }
    }
}

// Large neighbourhoods make most core distances exceed the edges that leave their
// components, so most points are settled by their core distance alone and the search
// skips them; small clusters of exact duplicates and a grid give many equal weights. The
// tree must still be minimal, and the same edges for any thread count.
TEST(DualTreeBoruvka, PointsSettledByCoreDistance) {
    for (unsigned seed = 0; seed < 3; ++seed) {
        const std::size_t dims = std::vector<std::size_t>{2, 5, 8}[seed];
        const DataMatrix m = seed == 1 ? testing::random_matrix(2500, dims, seed, 4)
                                       : make_data(Shape::Duplicated, 2500, dims, seed);
        for (const std::size_t k : {25, 60}) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << " dims " << dims << " k " << k);
            const BoruvkaRun one = run_boruvka<KdTree>(m, k, 1.0, 1);
            expect_minimum_spanning_tree(m, one.core.core_distances, 1.0, one.edges);
            for (const std::size_t threads : {2, 5}) {
                EXPECT_EQ(run_boruvka<KdTree>(m, k, 1.0, threads).edges, one.edges)
                    << threads << " threads";
            }
        }
    }
}

// Points 0, 1, 10 and 11.5 on a line. With k = 1 there are no neighbour lists: the first
// search finds the pairs in both directions, (1, 0, 1) and (1, 1, 0); the smaller `from`
// is accepted and the other skipped. With k = 2 seeding takes the same two pairs and the
// search only adds the bridge.
template <class Tree>
void expect_four_points_on_a_line() {
    const DataMatrix m = testing::matrix_from(1, {0.0, 1.0, 10.0, 11.5});
    const Tree tree = Tree::build(m);
    const std::vector<MstEdge> expected{{0, 1, 1.0}, {2, 3, 1.5}, {1, 2, 9.0}};
    const std::vector<double> zero(4, 0.0);
    EXPECT_EQ(dual_tree_boruvka(tree, zero, {}, 0, 1.0, ExecutionContext(4)), expected);

    const std::vector<double> core{1.0, 1.0, 1.5, 1.5};
    const std::vector<std::size_t> neighbors{1, 0, 3, 2};
    EXPECT_EQ(dual_tree_boruvka(tree, core, neighbors, 1, 1.0, ExecutionContext(4)), expected);

    const std::vector<MstEdge> halved{{0, 1, 2.0}, {2, 3, 3.0}, {1, 2, 18.0}};
    EXPECT_EQ(dual_tree_boruvka(tree, zero, {}, 0, 0.5, ExecutionContext(4)), halved);
}

TEST(DualTreeBoruvka, OppositeCandidatesAcceptedOnce) {
    expect_four_points_on_a_line<KdTree>();
    expect_four_points_on_a_line<BallTree>();
}

// Points 0, 1, 3 and 7 with k = 2: the neighbour pairs alone join everything in one
// batch, so no search runs and the edges come in ascending (weight, from, to).
TEST(DualTreeBoruvka, SeedingJoinsEverything) {
    const DataMatrix m = testing::matrix_from(1, {0.0, 1.0, 3.0, 7.0});
    const KdTree tree = KdTree::build(m);
    const CoreDistanceResult core = tree_core_distances(m, tree, 2, true, ExecutionContext(1));
    EXPECT_EQ(core.core_distances, (std::vector<double>{1.0, 1.0, 2.0, 4.0}));
    const std::vector<MstEdge> expected{{0, 1, 1.0}, {2, 1, 2.0}, {3, 2, 4.0}};
    EXPECT_EQ(
        dual_tree_boruvka(tree, core.core_distances, core.neighbors, 1, 1.0, ExecutionContext(2)),
        expected);
}

// k = 3: point 1 (core 5) has 4 and 0 as neighbours and appears in the lists of 0, 2
// and 4; its cheapest listed pair is 1-2 at sqrt(45), yet 1-3 at 6 is cheaper, and 3
// (core sqrt(34), 6 away) is in no list of 1 nor 1 in any list of 3. Merging 1-2 on the
// strength of the lists alone would cost sqrt(45) - 6 over the minimum.
TEST(DualTreeBoruvka, NeighbourPairBeatenOutsideTheListsIsNotSeeded) {
    const DataMatrix m = testing::matrix_from(2, {10, 12, 10, 7, 4, 4, 4, 7, 12, 5, 1, 12});
    for (const bool ball : {false, true}) {
        const BoruvkaRun run =
            ball ? run_boruvka<BallTree>(m, 3, 1.0, 1) : run_boruvka<KdTree>(m, 3, 1.0, 1);
        EXPECT_EQ(run.core.core_distances[1], 5.0);
        expect_minimum_spanning_tree(m, run.core.core_distances, 1.0, run.edges);
        EXPECT_TRUE(pair_set(run.edges).contains({1, 3})) << (ball ? "ball" : "kd");
        EXPECT_NEAR(std::accumulate(run.edges.begin(), run.edges.end(), 0.0,
                                    [](double s, const MstEdge& e) { return s + e.weight; }),
                    6.0 + 2 * std::sqrt(53.0) + std::sqrt(45.0) + std::sqrt(73.0), 1e-12);
    }
}

// Neighbour entries naming the point itself or no point at all are ignored; the result
// is still a minimum spanning tree.
TEST(DualTreeBoruvka, IgnoresSelfAndOutOfRangeNeighbours) {
    const DataMatrix m = make_data(Shape::Clustered, 700, 3, 7);
    const KdTree tree = KdTree::build(m);
    CoreDistanceResult core = tree_core_distances(m, tree, 4, true, ExecutionContext(1));
    for (std::size_t i = 0; i < m.rows; ++i) {
        core.neighbors[i * 3 + (i % 3)] = i % 2 == 0 ? i : m.rows + i;
    }
    const auto edges =
        dual_tree_boruvka(tree, core.core_distances, core.neighbors, 3, 1.0, ExecutionContext(2));
    expect_minimum_spanning_tree(m, core.core_distances, 1.0, edges);
}

// A timestamp column in seconds (about 1.7e9, rows minutes apart) next to unit-scale
// columns: the spacing of 32-bit floats there is 128 s, so only 64-bit coordinates give
// the right weights. More rows than the KD-tree route's threshold at these widths.
TEST(DualTreeBoruvka, TimestampColumnKeepsFullPrecision) {
    for (const std::size_t dims : {8, 12}) {
        std::mt19937_64 rng(dims);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        DataMatrix m(4200, dims);
        for (std::size_t i = 0; i < m.rows; ++i) {
            m.at(i, 0) = 1.7e9 + 60.0 * static_cast<double>(rng() % 20000);
            for (std::size_t j = 1; j < dims; ++j)
                m.at(i, j) = unit(rng);
        }
        SCOPED_TRACE(::testing::Message() << "dims " << dims);
        const BoruvkaRun run = run_boruvka<KdTree>(m, 5, 1.0, 2);
        expect_minimum_spanning_tree(m, run.core.core_distances, 1.0, run.edges);
    }
}

TEST(DualTreeBoruvka, TinyInputsAndBadArguments) {
    const DataMatrix one = testing::matrix_from(2, {0.5, 0.5});
    const KdTree single = KdTree::build(one);
    EXPECT_TRUE(dual_tree_boruvka(single, std::vector<double>{0.0}, {}, 0, 1.0).empty());
    const DataMatrix none(0, 2);
    EXPECT_TRUE(dual_tree_boruvka(KdTree::build(none), {}, {}, 0, 1.0).empty());

    const DataMatrix m = testing::random_matrix(50, 2, 1);
    const KdTree tree = KdTree::build(m);
    const std::vector<double> core(50, 0.0);
    EXPECT_THROW(dual_tree_boruvka(tree, std::vector<double>(49, 0.0), {}, 0, 1.0), InternalError);
    EXPECT_THROW(dual_tree_boruvka(tree, core, std::vector<std::size_t>(99, 0), 2, 1.0),
                 InternalError);
}

// A search that leaves the candidate table as it finds it, so the bounds entered before
// each search are what it hands to the merge: the run must refuse them rather than put
// them in the tree as edges.
struct IdleSearch {
    void compute_min_core(std::span<const double>, std::vector<double>&) {}
    void summarise(BoruvkaSearchState<>&, std::span<const BoruvkaCandidate>, std::vector<double>&) {
    }
    void search(const BoruvkaSearchState<>&, std::vector<BoruvkaCandidate>&, std::span<double>) {}
};

TEST(DualTreeBoruvka, BoundLeftBySearchIsRefused) {
    const DataMatrix m = testing::random_matrix(200, 2, 3);
    const ExecutionContext context(1);
    const KdTree tree = KdTree::build(m, context);
    const std::vector<double> core(m.rows, 0.0);
    boruvka_detail::BoruvkaRun<KdTree> run(tree, SquaredEuclideanSpace{}, core, 1.0, context);
    EXPECT_THROW(run.run({}, 0, [](std::size_t, const ExecutionContext&) { return IdleSearch{}; }),
                 InternalError);
}

// Deep enough KD-tree (1000 rows, leaves of 10): cutting for 4 tasks stops after three
// subtrees, and the pending LLRR, LR and R are still listed.
TEST(BoruvkaNodes, CollectSubtrees) {
    const KdTree tree = KdTree::build(testing::random_matrix(1000, 2, 5));
    const auto left = [&](std::size_t node) { return tree.nodes[node].left; };
    const auto right = [&](std::size_t node) { return tree.nodes[node].right; };
    const std::size_t l = left(0);
    const std::size_t ll = left(l);
    EXPECT_EQ(collect_subtrees(tree, 4),
              (std::vector<std::size_t>{left(left(ll)), right(left(ll)), left(right(ll)),
                                        right(right(ll)), right(l), right(0)}));
    EXPECT_EQ(collect_subtrees(tree, 1), (std::vector<std::size_t>{0}));
    // Target 2 stops cutting at once, yet the first descent still reaches depth 4.
    EXPECT_EQ(collect_subtrees(tree, 2), (std::vector<std::size_t>{left(left(ll)), right(left(ll)),
                                                                   right(ll), right(l), right(0)}));

    // 16 tasks: every node of depth 4, tiling the positions in order. In preorder a
    // subtree's nodes follow its root, as many as a tree over its rows has.
    const std::vector<std::size_t> sixteen = collect_subtrees(tree, 16);
    ASSERT_EQ(sixteen.size(), 16u);
    std::size_t position = 0;
    for (const std::size_t node : sixteen) {
        EXPECT_EQ(tree.nodes[node].start, position);
        position = tree.nodes[node].end;
        EXPECT_EQ(subtree_end(tree, node),
                  node + tree_node_count(tree.nodes[node].count, KdTree::leaf_size(2)));
    }
    EXPECT_EQ(position, 1000u);
    EXPECT_EQ(subtree_end(tree, sixteen.back()), tree.nodes.size());

    const KdTree small = KdTree::build(testing::random_matrix(8, 2, 5));
    EXPECT_EQ(collect_subtrees(small, 16), (std::vector<std::size_t>{0}));
}

// Node summaries against a direct scan of each node's positions; component 6 has no
// candidate yet (+infinity). They are filled the way the search fills them: the subtrees
// of a cut first, each as one range ending at subtree_end, then the nodes above them one
// by one from the last down.
TEST(BoruvkaNodes, MinCoreAndComponentLabels) {
    const DataMatrix m = testing::random_matrix(900, 3, 9);
    const BallTree tree = BallTree::build(m);
    std::mt19937_64 rng(9);
    std::vector<double> core(m.rows);
    for (double& c : core)
        c = 0.5 + static_cast<double>(rng() % 1000) / 100.0;
    core[tree.indices[3]] = std::nan("");
    // The search takes the smallest squared core distance, in tree order.
    std::vector<double> core_sq(m.rows);
    for (std::size_t i = 0; i < m.rows; ++i)
        core_sq[i] = core[tree.indices[i]] * core[tree.indices[i]];
    // Components by tree position: long runs share a component, with a few strays.
    std::vector<std::size_t> component(m.rows);
    for (std::size_t i = 0; i < m.rows; ++i)
        component[i] = rng() % 50 == 0 ? rng() % 7 : i / 130;

    std::vector<BoruvkaCandidate> candidates(7);
    for (std::size_t c = 0; c < 6; ++c)
        candidates[c].weight = static_cast<double>((c * 5) % 7);

    const std::size_t nodes = tree.nodes.size();
    std::vector<double> min_core(nodes, -1.0);
    std::vector<std::size_t> labels(nodes, 12345);
    std::vector<std::size_t> summary_labels(nodes, 12345);
    std::vector<double> bounds(nodes, -1.0);
    const auto fill = [&](std::size_t first, std::size_t last) {
        smallest_per_node(tree, core_sq, std::span<double>(min_core), first, last);
        label_nodes(tree, component, std::span<std::size_t>(labels), first, last);
        summarise_nodes(tree, component, core_sq, candidates,
                        std::span<std::size_t>(summary_labels), std::span<double>(bounds), first,
                        last);
    };
    std::vector<bool> filled(nodes, false);
    for (const std::size_t root : collect_subtrees(tree, 4)) {
        const std::size_t end = subtree_end(tree, root);
        fill(root, end);
        for (std::size_t node = root; node < end; ++node)
            filled[node] = true;
    }
    for (std::size_t node = nodes; node-- > 0;) {
        if (!filled[node]) fill(node, node + 1);
    }
    EXPECT_THROW(fill(3, nodes + 1), InternalError);
    std::size_t labelled = 0;  // both outcomes must occur for the check to mean anything
    std::size_t closed = 0;    // points whose core term settles them
    for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
        const BallNode& record = tree.nodes[node];
        double smallest = kInf;
        double largest_weight = 0.0;
        std::set<std::size_t> seen;
        for (std::size_t i = record.start; i < record.end; ++i) {
            if (!std::isnan(core[tree.indices[i]])) {
                smallest = std::min(smallest, core[tree.indices[i]]);
            }
            seen.insert(component[i]);
            // A point whose core term reaches its candidate has nothing left to gain.
            const double weight = candidates[component[i]].weight;
            const bool open = std::isnan(core_sq[i]) || core_sq[i] < weight;
            largest_weight = std::max(largest_weight, open ? weight : 0.0);
            closed += open ? 0 : 1;
        }
        EXPECT_EQ(bounds[node], largest_weight) << "node " << node;
        EXPECT_EQ(min_core[node], smallest * smallest) << "node " << node;
        EXPECT_EQ(labels[node], seen.size() == 1 ? *seen.begin() : NO_COMPONENT) << "node " << node;
        EXPECT_EQ(summary_labels[node], labels[node]) << "node " << node;
        labelled += seen.size() == 1 ? 1 : 0;
    }
    EXPECT_GT(labelled, 0u);
    EXPECT_LT(labelled, tree.nodes.size());
    EXPECT_GT(closed, 0u);
}

// The search is compiled per column count up to 8; every width from 1 to 9 (the first
// general one), with the neighbour lists and without them (as for a matrix too large for
// 32-bit lists): always a minimum spanning tree, with the same edges on 1 and 3 threads.
TEST(DualTreeBoruvka, EveryCompiledWidthWithAndWithoutLists) {
    for (std::size_t dims = 1; dims <= 9; ++dims) {
        const unsigned seed = static_cast<unsigned>(700 + dims);
        const DataMatrix m = dims % 2 == 0 ? make_data(Shape::Duplicated, 900, dims, seed)
                                           : testing::random_matrix(900, dims, seed, 6);
        const std::size_t k = 4;
        SCOPED_TRACE(::testing::Message() << "dims " << dims);
        const KdTree tree = KdTree::build(m, ExecutionContext(3));
        const CoreDistanceResult core = tree_core_distances(m, tree, k, true);
        for (const bool lists : {true, false}) {
            SCOPED_TRACE(lists ? "lists" : "no lists");
            const auto edges = [&](std::size_t threads) {
                return dual_tree_boruvka(tree, core.core_distances,
                                         lists ? core.neighbors : std::vector<NeighbourRow>{},
                                         k - 1, 1.0, ExecutionContext(threads));
            };
            const std::vector<MstEdge> one = edges(1);
            expect_minimum_spanning_tree(m, core.core_distances, 1.0, one);
            EXPECT_EQ(edges(3), one);
        }
    }
}

// Row numbers past 32 bits name no row of a matrix that can have lists: they become the
// marker, which seeding skips like any number past the last row.
TEST(DualTreeBoruvka, WideNeighbourNumbersBecomeTheMarker) {
    const std::size_t wide = std::size_t{1} << 40;
    const NeighbourLists lists(std::vector<std::size_t>{1, wide, NEIGHBOUR_LIST_MAX_ROWS, 0});
    EXPECT_EQ(lists.rows,
              (std::vector<NeighbourRow>{1, NEIGHBOUR_LIST_MAX_ROWS, NEIGHBOUR_LIST_MAX_ROWS, 0}));
    const DataMatrix m = testing::random_matrix(400, 3, 9);
    const KdTree tree = KdTree::build(m);
    const CoreDistanceResult core = tree_core_distances(m, tree, 3, true);
    std::vector<std::size_t> spoiled(core.neighbors.begin(), core.neighbors.end());
    for (std::size_t i = 0; i < spoiled.size(); i += 3)
        spoiled[i] = wide + i;
    expect_minimum_spanning_tree(m, core.core_distances, 1.0,
                                 dual_tree_boruvka(tree, core.core_distances, spoiled, 2, 1.0));
}

TEST(BoruvkaNodes, MutualReachabilityIgnoresNanCore) {
    const MutualReachabilitySq unit(1.0);
    EXPECT_EQ(unit(4.0, 9.0), 9.0);
    EXPECT_EQ(unit(16.0, 9.0), 16.0);
    EXPECT_EQ(unit(std::nan(""), 9.0), 9.0);
    const MutualReachabilitySq half(0.5);
    EXPECT_EQ(half(4.0, 9.0), 36.0);
    EXPECT_EQ(half(49.0, 9.0), 49.0);
    EXPECT_EQ(half(std::nan(""), 9.0), 36.0);
    EXPECT_EQ(max_ignoring_nan(std::nan(""), 2.0), 2.0);
    EXPECT_EQ(max_ignoring_nan(3.0, std::nan("")), 3.0);
}

}  // namespace
}  // namespace corvane
