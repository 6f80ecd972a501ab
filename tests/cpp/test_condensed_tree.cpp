#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/internal_error.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/condense_in_tasks.hpp"
#include "condensed_tree/condense_walk.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "hierarchy_test_support.hpp"
#include "linkage/preorder_linkage.hpp"
#include "linkage/single_linkage.hpp"

namespace corvane {
namespace {

using testing::kInf;
using Edges = std::vector<CondensedEdge>;

SingleLinkageTree linkage(std::vector<LinkageRow> rows) {
    return {std::move(rows)};
}

// Condenses the rows and their pre-order layout; the two must agree edge for edge.
Edges condensed(const SingleLinkageTree& tree, std::size_t n, std::size_t m) {
    const Edges edges = condense(tree, n, m).edges;
    EXPECT_EQ(condense(PreorderLinkage(tree, n), m).unpacked().edges, edges)
        << "the pre-order route, n " << n << " m " << m;
    return edges;
}

TEST(Condense, FourPointExampleInEmissionOrder) {
    const auto tree = linkage({{0, 1, 4.0, 2}, {2, 3, 2.0, 2}, {4, 5, 1.0, 4}});
    const Edges expected{{4, 5, 1.0, 2}, {4, 6, 1.0, 2}, {6, 2, 2.0, 1},
                         {6, 3, 2.0, 1}, {5, 0, 4.0, 1}, {5, 1, 4.0, 1}};
    EXPECT_EQ(condensed(tree, 4, 2), expected);
}

TEST(Condense, RightSubtreeIsNumberedBeforeTheLeft) {
    // Two pairs of pairs: the right half (points 4..7) gets clusters 11 and
    // 12 before the left half's children 13 and 14.
    const auto tree = linkage({{0, 1, 8.0, 2},
                               {2, 3, 8.0, 2},
                               {4, 5, 8.0, 2},
                               {6, 7, 8.0, 2},
                               {8, 9, 4.0, 4},
                               {10, 11, 4.0, 4},
                               {12, 13, 1.0, 8}});
    const Edges expected{{8, 9, 1.0, 4},  {8, 10, 1.0, 4}, {10, 11, 4.0, 2}, {10, 12, 4.0, 2},
                         {12, 6, 8.0, 1}, {12, 7, 8.0, 1}, {11, 4, 8.0, 1},  {11, 5, 8.0, 1},
                         {9, 13, 4.0, 2}, {9, 14, 4.0, 2}, {14, 2, 8.0, 1},  {14, 3, 8.0, 1},
                         {13, 0, 8.0, 1}, {13, 1, 8.0, 1}};
    EXPECT_EQ(condensed(tree, 8, 2), expected);
}

TEST(Condense, DroppedPointsKeepTheLambdaOfTheirLowestMerge) {
    // min_cluster_size above n: everything leaves the root, left side first,
    // point 0 and 1 at their own merge (1.0) rather than the root's 0.5.
    const auto tree = linkage({{0, 1, 1.0, 2}, {3, 2, 0.5, 3}});
    const Edges expected{{3, 0, 1.0, 1}, {3, 1, 1.0, 1}, {3, 2, 0.5, 1}};
    EXPECT_EQ(condensed(tree, 3, 5), expected);
    // One small side: point 2 leaves, the pair continues as the root and ends.
    const Edges continued{{3, 2, 0.5, 1}, {3, 0, 1.0, 1}, {3, 1, 1.0, 1}};
    EXPECT_EQ(condensed(tree, 3, 2), continued);
}

TEST(Condense, SplitsAtInfiniteLambdaAreNeverRealSplits) {
    // Two groups of two identical points, merged at distance 0.
    const auto alone = linkage({{0, 1, kInf, 2}, {2, 3, kInf, 2}, {4, 5, kInf, 4}});
    const Edges all_root{{4, 0, kInf, 1}, {4, 1, kInf, 1}, {4, 2, kInf, 1}, {4, 3, kInf, 1}};
    EXPECT_EQ(condensed(alone, 4, 2), all_root);

    // The same four points next to an ordinary pair: the finite split stays
    // real, the duplicates all leave cluster 7 at +infinity.
    const auto mixed = linkage(
        {{0, 1, kInf, 2}, {2, 3, kInf, 2}, {6, 7, kInf, 4}, {4, 5, 2.0, 2}, {8, 9, 1.0, 6}});
    const Edges expected{{6, 7, 1.0, 4},  {6, 8, 1.0, 2},  {8, 4, 2.0, 1},  {8, 5, 2.0, 1},
                         {7, 0, kInf, 1}, {7, 1, kInf, 1}, {7, 2, kInf, 1}, {7, 3, kInf, 1}};
    EXPECT_EQ(condensed(mixed, 6, 2), expected);
}

TEST(Condense, MergesAtOneLambdaFormOneLevel) {
    // Pairs 2-3 and 4-5 form at lambda 4; the pair 0-1 forms at lambda 1, the
    // level at which everything joins. Read pairwise, {0, 1} would be a
    // cluster born and ended at lambda 1; read as one level, points 0 and 1
    // simply leave the root there and the two real pairs split off.
    const auto tree =
        linkage({{2, 3, 4.0, 2}, {4, 5, 4.0, 2}, {0, 1, 1.0, 2}, {8, 6, 1.0, 4}, {9, 7, 1.0, 6}});
    const Edges expected{{6, 0, 1.0, 1}, {6, 1, 1.0, 1}, {6, 7, 1.0, 2}, {6, 8, 1.0, 2},
                         {8, 4, 4.0, 1}, {8, 5, 4.0, 1}, {7, 2, 4.0, 1}, {7, 3, 4.0, 1}};
    EXPECT_EQ(condensed(tree, 6, 2), expected);

    // Three pairs joining at one lambda split three ways; the rightmost part
    // is condensed first.
    const auto three =
        linkage({{0, 1, 4.0, 2}, {2, 3, 4.0, 2}, {4, 5, 4.0, 2}, {6, 7, 1.0, 4}, {9, 8, 1.0, 6}});
    const Edges three_way{{6, 7, 1.0, 2}, {6, 8, 1.0, 2}, {6, 9, 1.0, 2},
                          {9, 4, 4.0, 1}, {9, 5, 4.0, 1}, {8, 2, 4.0, 1},
                          {8, 3, 4.0, 1}, {7, 0, 4.0, 1}, {7, 1, 4.0, 1}};
    EXPECT_EQ(condensed(three, 6, 2), three_way);
}

// The packed form gives back the edge list in emission order, which the stability sums
// follow; what it cannot hold faithfully is refused.
TEST(PackedCondensedTree, GivesBackTheEdgesInEmissionOrder) {
    for (std::uint64_t seed = 1; seed <= 25; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + (seed * 71) % 500;
        const auto edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 6));
        const CondensedTree tree = condense(build_single_linkage(edges, n), n, 2 + seed % 5);
        const PackedCondensedTree packed(tree, n);
        EXPECT_EQ(packed.points(), n);
        EXPECT_EQ(packed.unpacked().edges, tree.edges) << "seed " << seed;
    }
    const CondensedTree nested = testing::nested_tree();
    EXPECT_EQ(PackedCondensedTree(nested, 13).unpacked().edges, nested.edges);
    EXPECT_TRUE(PackedCondensedTree(CondensedTree{}, 1).empty());
    EXPECT_THROW(PackedCondensedTree(CondensedTree{{{2, 0, 1.0, 2}, {2, 1, 1.0, 1}}}, 2),
                 InternalError);
    EXPECT_THROW(PackedCondensedTree(CondensedTree{{{2, 3, 1.0, 3}}}, 2), InternalError);
}

TEST(Condense, RejectsTreesThatDoNotSpanThePoints) {
    const auto tree = linkage({{0, 1, 1.0, 2}});
    EXPECT_THROW(condense(tree, 3, 2), InternalError);
    EXPECT_THROW(condense(tree, 2, 1), InternalError);
    EXPECT_TRUE(condense(linkage({}), 1, 2).edges.empty());
    EXPECT_THROW(PreorderLinkage(tree, 3), InternalError);
    EXPECT_THROW(condense(PreorderLinkage(tree, 2), 1), InternalError);
    EXPECT_TRUE(condense(PreorderLinkage(linkage({}), 1), 2).empty());
    // A row whose size is not the sum of its sides, and one that names a later row.
    EXPECT_THROW(PreorderLinkage(linkage({{0, 1, 1.0, 3}, {3, 2, 1.0, 3}}), 3), InternalError);
    EXPECT_THROW(PreorderLinkage(linkage({{4, 1, 1.0, 2}, {3, 2, 1.0, 3}}), 3), InternalError);
}

// The pre-order layout puts the smaller side of every row first, so its walk differs from
// the walk over the rows; what it emits must not. Random trees with many equal and zero
// weights, and spanning trees of duplicated points, at every min_cluster_size up to 12.
TEST(Condense, PreorderRouteEqualsTheRowsOnRandomTrees) {
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + (seed * 37) % 300;
        std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 7));
        if (seed % 3 == 0) {
            std::vector<double> x(n);
            for (double& value : x)
                value = double(rng() % (n / 4 + 1));
            edges = testing::mutual_reachability_mst(rng, x, 1 + seed % 4);
        }
        const SingleLinkageTree rows = build_single_linkage(edges, n);
        const PreorderLinkage preorder(rows, n);
        for (std::size_t m = 2; m <= 12; ++m) {
            EXPECT_EQ(condense(preorder, m).unpacked().edges, condense(rows, n, m).edges)
                << "seed " << seed << " m " << m;
        }
    }
}

// Parts condensed as tasks must come back where the one walk emits them, with the ids it
// gives them: for every task size (1 hands off every part beside the largest, including
// the equal-sized parts of multi-way splits) and thread count, edge for edge, on trees
// with few distinct weights and on spanning trees of duplicated points.
TEST(Condense, TasksGiveTheOneWalksTree) {
    for (std::uint64_t seed = 1; seed <= 24; ++seed) {
        std::mt19937_64 rng(seed);
        const bool duplicated_points = seed % 3 == 0;
        const std::size_t n = duplicated_points ? 20 + rng() % 600 : 50 + rng() % 3000;
        std::vector<MstEdge> edges;
        if (duplicated_points) {
            std::vector<double> x(n);
            for (double& value : x)
                value = double(rng() % (n / 6 + 1));
            edges = testing::mutual_reachability_mst(rng, x, 1 + seed % 4);
        } else {
            edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 9));
        }
        const PreorderLinkage preorder(build_single_linkage(edges, n), n);
        for (const std::size_t m : {2, 3, 7}) {
            const PackedCondensedTree one = condense_in_one_walk(preorder, m, ExecutionContext(1));
            for (const std::size_t task_points : {std::size_t{1}, std::size_t{3}, n / 8 + 1, n}) {
                for (const std::size_t threads : {1, 2, 5}) {
                    const PackedCondensedTree tasks =
                        condense_in_tasks(preorder, m, task_points, ExecutionContext(threads));
                    ASSERT_EQ(tasks.unpacked().edges, one.unpacked().edges)
                        << "seed " << seed << " m " << m << " task points " << task_points
                        << " threads " << threads;
                    ASSERT_EQ(tasks.node_count(), one.node_count()) << "seed " << seed;
                }
            }
        }
    }
    // Large enough for condense to take the tasks on many threads.
    std::mt19937_64 rng(99);
    const std::size_t n = 70000;
    const PreorderLinkage preorder(
        build_single_linkage(testing::random_spanning_tree(rng, n, 12), n), n);
    EXPECT_EQ(condense(preorder, 5, ExecutionContext(3)).unpacked().edges,
              condense(preorder, 5, ExecutionContext(1)).unpacked().edges);
}

// Threads write the nodes of their own stretches of ids: every field is what one thread
// writes, and a tree that names a point twice is refused alike on any thread count.
TEST(CondensedIndex, SameOnOneThreadAndOnMany) {
    std::mt19937_64 rng(5);
    const std::size_t n = 100'000;
    const std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 30);
    const PackedCondensedTree tree =
        condense(PreorderLinkage(build_single_linkage(edges, n), n), 5);
    const CondensedIndex one = index_condensed_tree(tree, ExecutionContext(1));
    ASSERT_GT(one.end(), n + 100) << "seed 5: the tree should hold many clusters";
    // Few enough clusters for the edges to be scanned in stretches on 5 threads.
    ASSERT_LE((one.end() - n) * 5, tree.size() / 2) << "seed 5";
    for (const std::size_t threads : {2, 5}) {
        for (const bool with_points : {true, false}) {
            const ExecutionContext context(threads);
            const CondensedIndex many = with_points ? index_condensed_tree(tree, context)
                                                    : index_condensed_clusters(tree, context);
            const std::string where =
                std::to_string(threads) + " threads, points " + std::to_string(with_points);
            if (with_points) {
                EXPECT_EQ(many.parent, one.parent) << where;
                EXPECT_EQ(many.lambda, one.lambda) << where;
            }
            EXPECT_EQ(many.child_begin, one.child_begin) << where;
            EXPECT_EQ(many.children, one.children) << where;
            EXPECT_EQ(many.deepest_point, one.deepest_point) << where;
            EXPECT_EQ(many.last_departure, one.last_departure) << where;
        }
    }
    const auto refusal = [&](const PackedCondensedTree& packed, std::size_t threads,
                             bool with_points) {
        try {
            if (with_points) {
                index_condensed_tree(packed, ExecutionContext(threads));
            } else {
                index_condensed_clusters(packed, ExecutionContext(threads));
            }
        } catch (const InternalError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };

    // A tree whose last edge names the point of its first point edge again.
    Edges broken = tree.unpacked().edges;
    const auto first_point = std::find_if(broken.begin(), broken.end(),
                                          [&](const CondensedEdge& e) { return e.child < n; });
    ASSERT_NE(first_point, broken.end());
    const std::size_t orphan = broken.back().child;
    broken.back().child = first_point->child;
    broken.back().child_size = 1;
    const PackedCondensedTree packed(CondensedTree{broken}, n);
    // Two broken edges in different stretches: the first in edge order is reported.
    Edges two_broken = tree.unpacked().edges;
    two_broken[two_broken.size() * 3 / 4].child = n;
    two_broken[two_broken.size() / 3].parent = 0;
    const PackedCondensedTree packed_twice(CondensedTree{two_broken}, n);
    for (const std::size_t threads : {1, 2, 5}) {
        for (const bool with_points : {true, false}) {
            EXPECT_EQ(refusal(packed, threads, with_points),
                      "condensed tree: node " + std::to_string(orphan) + " has no parent")
                << threads << " threads, points " << with_points;
            EXPECT_EQ(refusal(packed_twice, threads, with_points),
                      "condensed tree: a point is a parent")
                << threads << " threads, points " << with_points;
        }
    }
}

// The index a fit selects on leaves the points out: everything kept by cluster must be
// what the full index holds, and broken trees must be refused with the same message.
TEST(CondensedIndex, WithoutThePointsKeepsTheClustersAndTheChecks) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + rng() % 3000;
        const std::vector<MstEdge> edges =
            testing::random_spanning_tree(rng, n, 2 + int(seed % 20));
        const PackedCondensedTree tree =
            condense(PreorderLinkage(build_single_linkage(edges, n), n), 2 + seed % 7);
        const std::string context = "seed " + std::to_string(seed);
        const CondensedIndex full = index_condensed_tree(tree);
        const CondensedIndex clusters = index_condensed_clusters(tree);
        ASSERT_EQ(clusters.end(), full.end()) << context;
        if (full.empty()) continue;
        for (std::size_t c = full.root(); c < full.end(); ++c) {
            EXPECT_EQ(clusters.parent[c], full.parent[c]) << context << " cluster " << c;
            EXPECT_EQ(clusters.lambda[c], full.lambda[c]) << context << " cluster " << c;
        }
        EXPECT_EQ(clusters.child_begin, full.child_begin) << context;
        EXPECT_EQ(clusters.children, full.children) << context;
        EXPECT_EQ(clusters.deepest_point, full.deepest_point) << context;
        EXPECT_EQ(clusters.last_departure, full.last_departure) << context;

        // A point named twice (another node then has no edge), and a point dropped with
        // the count kept by a cluster named twice.
        for (const bool point_twice : {true, false}) {
            Edges broken = tree.unpacked().edges;
            const auto first_point = std::find_if(
                broken.begin(), broken.end(), [&](const CondensedEdge& e) { return e.child < n; });
            const auto last_cluster =
                std::find_if(broken.rbegin(), broken.rend(),
                             [&](const CondensedEdge& e) { return e.child > n; });
            if (first_point == broken.end() || last_cluster == broken.rend()) continue;
            if (point_twice) {
                broken.back() = {broken.back().parent, first_point->child, 1.0, 1};
            } else {
                *first_point = {first_point->parent, last_cluster->child, 1.0,
                                last_cluster->child_size};
            }
            const PackedCondensedTree packed(CondensedTree{broken}, n);
            std::string expected, message;
            try {
                index_condensed_tree(packed);
            } catch (const InternalError& error) {
                expected = error.what();
            }
            try {
                index_condensed_clusters(packed);
            } catch (const InternalError& error) {
                message = error.what();
            }
            EXPECT_FALSE(expected.empty()) << context;
            EXPECT_EQ(message, expected) << context << " point twice " << point_twice;
        }
    }
}

}  // namespace
}  // namespace corvane
