#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/internal_error.hpp"
#include "hierarchy_test_support.hpp"
#include "linkage/edge_order.hpp"
#include "linkage/linkage_rows.hpp"
#include "linkage/preorder_linkage.hpp"
#include "linkage/single_linkage.hpp"
#include "linkage/spanning_tree.hpp"
#include "union_find/union_find.hpp"

namespace corvane {
namespace {

using testing::kInf;

TEST(UnionFind, UnionBySizeKeepsFirstRepresentativeOnTies) {
    UnionFind sets(6);
    sets.unite(3, 1);
    EXPECT_EQ(sets.find(1), 3u);
    sets.unite(0, 1);  // a singleton joins a pair: the pair's representative wins
    EXPECT_EQ(sets.find(0), 3u);
    sets.unite(5, 4);
    sets.unite(4, 2);
    EXPECT_EQ(sets.find(2), 5u);
    sets.unite(2, 0);  // 3 elements against 3: the first argument's set wins
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(sets.find(i), 5u) << i;
    }
    EXPECT_THROW(sets.find(6), InternalError);
    EXPECT_THROW(sets.unite(0, 99), InternalError);
}

TEST(SingleLinkage, ThreePointExample) {
    const std::vector<MstEdge> edges{{1, 2, 2.0}, {0, 1, 1.0}};
    const std::vector<LinkageRow> expected{{0, 1, 1.0, 2}, {3, 2, 0.5, 3}};
    EXPECT_EQ(build_single_linkage(edges, 3).rows, expected);
}

TEST(SingleLinkage, LeftIsTheSideOfTheSmallerFirstPassRepresentative) {
    // {0, 3} keeps representative 3 (size tie, 3 is the edge's first end), so
    // the last merge records (1, 3) and {1, 2} is the left side.
    const std::vector<MstEdge> tie{{2, 0, 3.0}, {1, 2, 2.0}, {3, 0, 1.0}};
    const std::vector<MergeRecord> tie_records{{0, 3, 1.0}, {1, 2, 2.0}, {1, 3, 3.0}};
    EXPECT_EQ(merge_records(tie, 4), tie_records);
    const std::vector<LinkageRow> tie_rows{{0, 3, 1.0, 2}, {1, 2, 0.5, 2}, {5, 4, 1.0 / 3.0, 4}};
    EXPECT_EQ(build_single_linkage(tie, 4).rows, tie_rows);

    // Union by size: {1, 2, 3} is named 2 and {0, 4, 5} is named 4, so the
    // set without point 0 is the left side of the root.
    const std::vector<MstEdge> sized{
        {0, 1, 5.0}, {5, 0, 4.0}, {4, 5, 3.0}, {3, 1, 2.0}, {2, 3, 1.0}};
    const std::vector<LinkageRow> sized_rows{
        {2, 3, 1.0, 2}, {1, 6, 0.5, 3}, {4, 5, 1.0 / 3.0, 2}, {0, 8, 0.25, 3}, {7, 9, 0.2, 6}};
    EXPECT_EQ(build_single_linkage(sized, 6).rows, sized_rows);
}

TEST(SingleLinkage, EqualWeightsTakenBySmallerThenLargerEndpoint) {
    // Keys (min, max): (0,3) < (1,2) < (1,3), whatever the input order.
    const std::vector<MstEdge> edges{{3, 1, 1.0}, {2, 1, 1.0}, {3, 0, 1.0}};
    const std::vector<MergeRecord> expected{{0, 3, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}};
    EXPECT_EQ(merge_records(edges, 4), expected);
}

TEST(SingleLinkage, ZeroWeightsOnePointAndBadEndpoints) {
    const std::vector<MstEdge> zero{{0, 1, 0.0}};
    EXPECT_EQ(build_single_linkage(zero, 2).rows, (std::vector<LinkageRow>{{0, 1, kInf, 2}}));
    EXPECT_TRUE(build_single_linkage({}, 1).rows.empty());
    const std::vector<MstEdge> bad{{0, 2, 1.0}};
    EXPECT_THROW(build_single_linkage(bad, 2), InternalError);
}

TEST(SingleLinkage, RandomTreesGiveConsistentRowsWhateverTheEdgeOrder) {
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + seed * 7;
        std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 4);
        const auto rows = build_single_linkage(edges, n).rows;
        std::shuffle(edges.begin(), edges.end(), rng);
        EXPECT_EQ(build_single_linkage(edges, n).rows, rows) << "seed " << seed;

        ASSERT_EQ(rows.size(), n - 1) << "seed " << seed;
        std::vector<int> used(2 * n - 1, 0);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const LinkageRow& row = rows[i];
            ASSERT_LT(row.left, n + i);
            ASSERT_LT(row.right, n + i);
            ++used[row.left];
            ++used[row.right];
            auto size = [&](std::size_t v) { return v < n ? 1 : rows[v - n].size; };
            EXPECT_EQ(row.size, size(row.left) + size(row.right)) << "seed " << seed;
            if (i > 0) {
                EXPECT_LE(row.lambda, rows[i - 1].lambda) << "seed " << seed;
            }
        }
        EXPECT_EQ(std::count(used.begin(), used.end() - 1, 1),
                  static_cast<std::ptrdiff_t>(2 * n - 2))
            << "seed " << seed;
    }
}

TEST(SingleLinkage, OnePassEqualsTheTwoPassReference) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + (seed * 37) % 400;
        // Few weight levels: many ties, zeros (+0 and -0), one NaN.
        std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 3);
        if (seed % 3 == 0) edges[seed % edges.size()].weight = -0.0;
        if (seed % 5 == 0) edges[(seed * 7) % edges.size()].weight = nan;
        const auto reference = number_linkage_rows(merge_records(edges, n), n).rows;
        const auto rows = build_single_linkage(edges, n).rows;
        ASSERT_EQ(rows.size(), reference.size()) << "seed " << seed;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].left, reference[i].left) << "seed " << seed << " row " << i;
            EXPECT_EQ(rows[i].right, reference[i].right) << "seed " << seed << " row " << i;
            EXPECT_EQ(rows[i].size, reference[i].size) << "seed " << seed << " row " << i;
            EXPECT_TRUE(rows[i].lambda == reference[i].lambda ||
                        (std::isnan(rows[i].lambda) && std::isnan(reference[i].lambda)))
                << "seed " << seed << " row " << i;
        }
    }
}

// What a pre-order layout shows of every node, root first, smaller side first.
struct LaidOutNode {
    std::size_t size = 0;
    std::size_t smallest = 0;
    std::size_t point = 0;  // points only
    double lambda = 0.0;    // rows only
    std::size_t left_size = 0;

    friend bool operator==(const LaidOutNode&, const LaidOutNode&) = default;
};

std::vector<LaidOutNode> walk(const PreorderLinkage& tree) {
    std::vector<LaidOutNode> nodes;
    if (tree.points() == 0) return nodes;
    std::vector<PreorderLinkage::Node> stack{tree.root()};
    while (!stack.empty()) {
        const PreorderLinkage::Node node = stack.back();
        stack.pop_back();
        if (tree.is_point(node)) {
            nodes.push_back({1, tree.smallest_point(node), tree.point(node), 0.0, 0});
            continue;
        }
        nodes.push_back(
            {node.size, tree.smallest_point(node), 0, tree.lambda(node), tree.left(node).size});
        stack.push_back(tree.right(node));
        stack.push_back(tree.left(node));
    }
    return nodes;
}

// The fit's linkage pass keeps its rows narrow, finds the smallest point under each on the
// way and leaves the lambdas to the spanning tree; the layout built from them must be the
// one the full rows give, on weights with many ties, zeros and NaN, and on edge lists
// with cycles (whose extra edges leave the spanning tree before the lambdas are read).
TEST(SingleLinkage, NarrowRowsLayOutAsTheFullRows) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 1 + (seed * 41) % 500;
        std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 5));
        if (seed % 4 == 0 && n > 1) edges[seed % edges.size()].weight = nan;
        if (seed % 3 == 0 && n > 1) edges[(seed * 7) % edges.size()].weight = -0.0;
        for (std::size_t i = 0; i < seed % 5 && n > 1; ++i)
            edges.push_back({rng() % n, rng() % n, 0.5 * double(rng() % 3)});
        std::shuffle(edges.begin(), edges.end(), rng);
        const std::string context = "seed " + std::to_string(seed) + " n " + std::to_string(n);

        const SingleLinkageTree full = build_single_linkage(edges, n);
        const IndexArray smallest = smallest_points(full, n);
        SpanningTree tree(sorted_edges(edges), n);
        const LinkedRows rows = link_spanning_tree_rows(tree);
        ASSERT_EQ(rows.size(), full.rows.size()) << context;
        ASSERT_EQ(tree.size(), full.rows.size()) << context;
        const auto size_of = [&](std::size_t node) {
            return node < n ? 1 : full.rows[node - n].size;
        };
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const LinkageRow& row = full.rows[r];
            EXPECT_EQ(rows.left[r], row.left) << context << " row " << r;
            EXPECT_EQ(rows.right[r], row.right) << context << " row " << r;
            EXPECT_EQ(rows.left_size[r], size_of(row.left)) << context << " row " << r;
            EXPECT_EQ(rows.right_size[r], size_of(row.right)) << context << " row " << r;
            EXPECT_EQ(rows.smallest[r], smallest[r]) << context << " row " << r;
        }
        const std::vector<LaidOutNode> expected = walk(PreorderLinkage(full, n));
        const std::vector<LaidOutNode> laid_out = walk(PreorderLinkage(rows, tree));
        ASSERT_EQ(laid_out.size(), expected.size()) << context;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const bool same_lambda =
                laid_out[i].lambda == expected[i].lambda ||
                (std::isnan(laid_out[i].lambda) && std::isnan(expected[i].lambda));
            EXPECT_TRUE(same_lambda) << context << " node " << i;
            LaidOutNode x = laid_out[i], y = expected[i];
            x.lambda = y.lambda = 0.0;
            EXPECT_EQ(x, y) << context << " node " << i;
        }
    }
    // Rows of another spanning tree, or too few for the points, are refused.
    std::mt19937_64 rng(3);
    SpanningTree tree(sorted_edges(testing::random_spanning_tree(rng, 20, 3)), 20);
    const LinkedRows rows = link_spanning_tree_rows(tree);
    EXPECT_THROW(PreorderLinkage(rows, SpanningTree(std::vector<MstEdge>{}, 20)), InternalError);
    SpanningTree short_tree(sorted_edges(testing::random_spanning_tree(rng, 20, 3)), 21);
    EXPECT_THROW(PreorderLinkage(link_spanning_tree_rows(short_tree), short_tree), InternalError);
}

// What a model keeps of the linkage: the edges that merged, in merge order and as the
// route oriented them, from which one pass gives the rows back without sorting. Extra
// edges closing cycles are dropped; large point numbers survive the 4-byte storage.
TEST(SpanningTree, KeptInMergeOrderItRebuildsTheRows) {
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + (seed * 53) % 300;
        std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 4));
        std::vector<MstEdge> with_cycles = edges;
        for (std::size_t i = 0; i < seed % 7; ++i)
            with_cycles.push_back({rng() % n, rng() % n, 0.5 * double(rng() % 4)});
        std::shuffle(with_cycles.begin(), with_cycles.end(), rng);
        const std::string context = "seed " + std::to_string(seed);

        SpanningTree kept;
        const auto rows = link_sorted_edges(sorted_edges(with_cycles), n, kept).rows;
        EXPECT_EQ(rows, build_single_linkage(with_cycles, n).rows) << context;
        ASSERT_EQ(kept.points(), n) << context;
        ASSERT_EQ(kept.size(), n - 1) << context;
        EXPECT_EQ(build_single_linkage(kept).rows, rows) << context;
        std::vector<MstEdge> kept_edges;
        for (std::size_t i = 0; i < kept.size(); ++i)
            kept_edges.push_back(kept.edge(i));
        EXPECT_EQ(sorted_edges(kept_edges), kept_edges) << context;
        EXPECT_EQ(build_single_linkage(kept_edges, n).rows, rows) << context;
    }
    // Endpoints take 4 bytes below 2^32 points and 8 from there on.
    const std::vector<MstEdge> below{{3'999'999'999, 3'999'999'998, 1.5}};
    EXPECT_EQ(SpanningTree(below, 4'000'000'000).edge(0), below[0]);
    EXPECT_EQ(SpanningTree(below, 4'000'000'000).bytes(), 16u);
    const std::vector<MstEdge> above{{4'999'999'999, 4'300'000'000, 2.0}};
    EXPECT_EQ(SpanningTree(above, 5'000'000'000).edge(0), above[0]);
    EXPECT_EQ(SpanningTree(above, 5'000'000'000).bytes(), 24u);
}

TEST(SortedEdges, NumericWeightOrderThenEndpoints) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<MstEdge> edges{{5, 1, nan},   {4, 2, 0.0}, {3, 0, -0.0},
                                     {1, 0, 2.5},   {0, 6, inf}, {2, 1, 1e-300},
                                     {6, 3, 1e300}, {1, 3, 2.5}, {2, 0, -1.0}};
    const auto sorted = sorted_edges(edges);
    const std::vector<std::pair<std::size_t, std::size_t>> expected{
        {2, 0}, {3, 0}, {4, 2}, {2, 1}, {1, 0}, {1, 3}, {6, 3}, {0, 6}, {5, 1}};
    ASSERT_EQ(sorted.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(sorted[i].a, expected[i].first) << i;
        EXPECT_EQ(sorted[i].b, expected[i].second) << i;
    }
    // Many distinct weights across every radix digit.
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> exponent(-300.0, 300.0);
    std::vector<MstEdge> many;
    for (std::size_t i = 0; i < 5000; ++i) {
        many.push_back({i, i + 1, std::pow(10.0, exponent(rng)) * (i % 7 == 0 ? -1.0 : 1.0)});
    }
    const auto order = sorted_edges(many);
    for (std::size_t i = 1; i < order.size(); ++i) {
        EXPECT_LE(order[i - 1].weight, order[i].weight) << i;
    }
}

// `count` edges over `points` points with weights drawn from `levels` values (many
// equal weights), arriving as `runs` batches each sorted by weight.
std::vector<MstEdge> batched_edges(std::mt19937_64& rng, std::size_t count, std::size_t points,
                                   std::size_t runs, int levels) {
    std::uniform_int_distribution<int> coarse(0, levels - 1);
    std::vector<MstEdge> edges;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t a = rng() % points;
        edges.push_back({a, (a + 1 + rng() % (points - 1)) % points, 0.25 * coarse(rng)});
    }
    const std::size_t per_run = edges.size() / runs;
    for (std::size_t r = 0; r < runs; ++r) {
        const auto first = edges.begin() + static_cast<std::ptrdiff_t>(r * per_run);
        const auto last =
            r + 1 == runs ? edges.end() : first + static_cast<std::ptrdiff_t>(per_run);
        std::sort(first, last,
                  [](const MstEdge& x, const MstEdge& y) { return x.weight < y.weight; });
    }
    return edges;
}

// The order of sorted_edges, spelled out: weight, then smaller endpoint, then larger. An
// edge and its reverse tie, so endpoints are compared as pairs.
void expect_merge_order(const std::vector<MstEdge>& sorted, std::vector<MstEdge> edges,
                        const std::string& context) {
    const auto key = [](const MstEdge& e) {
        return std::tuple(e.weight, std::min(e.a, e.b), std::max(e.a, e.b));
    };
    std::sort(edges.begin(), edges.end(),
              [&](const MstEdge& x, const MstEdge& y) { return key(x) < key(y); });
    ASSERT_EQ(sorted.size(), edges.size()) << context;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        ASSERT_EQ(key(sorted[i]), key(edges[i])) << context << ", edge " << i;
}

// Batches that arrive sorted (merged) and edges in any order (radix sorted)
// must give the same order: by weight, then endpoints, whatever the runs.
TEST(SortedEdges, SortedRunsAndShuffledEdgesAgree) {
    std::mt19937_64 rng(21);
    for (const std::size_t runs : {1, 2, 7, 64, 65, 300}) {
        const std::vector<MstEdge> edges = batched_edges(rng, 3000, 5000, runs, 41);
        expect_merge_order(sorted_edges(edges), edges, std::to_string(runs) + " runs");
    }
}

// Enough edges for the merges and the runs of equal weights to be cut between threads:
// every cut, through a run of equal weights too (a single weight makes one run of all),
// gives the one order.
TEST(SortedEdges, ThreadCountDoesNotChangeTheOrder) {
    std::mt19937_64 rng(22);
    for (const auto& [runs, levels] :
         std::vector<std::pair<std::size_t, int>>{{2, 41}, {7, 3}, {64, 1000}, {3, 1}, {100, 41}}) {
        const std::vector<MstEdge> edges = batched_edges(rng, 150'000, 20'000, runs, levels);
        const std::string context =
            std::to_string(runs) + " runs, " + std::to_string(levels) + " weights, seed 22";
        const std::vector<MstEdge> one = sorted_edges(edges, ExecutionContext(1));
        expect_merge_order(one, edges, context);
        for (const std::size_t threads : {2, 5}) {
            // Edges that tie (an edge and its reverse) stay as one thread leaves them too.
            EXPECT_EQ(sorted_edges(edges, ExecutionContext(threads)), one)
                << context << ", " << threads << " threads";
        }
    }
}

// Batches as Boruvka emits them: one holds most edges and the others, before and after it,
// shrink, so the few are merged apart (those after the largest again around a largest of
// their own) and then joined with the large one. Any thread count gives the one order.
TEST(SortedEdges, OneLargeRunAmongSmallOnes) {
    std::mt19937_64 rng(23);
    for (const int levels : {3, 41, 100'000}) {
        std::vector<MstEdge> edges;
        for (const std::size_t size : {200, 150'000, 9'000, 2'000, 500, 120, 30, 7}) {
            const std::vector<MstEdge> run = batched_edges(rng, size, 20'000, 1, levels);
            edges.insert(edges.end(), run.begin(), run.end());
        }
        const std::string context = std::to_string(levels) + " weights, seed 23";
        const std::vector<MstEdge> one = sorted_edges(edges, ExecutionContext(1));
        expect_merge_order(one, edges, context);
        for (const std::size_t threads : {2, 5}) {
            EXPECT_EQ(sorted_edges(edges, ExecutionContext(threads)), one)
                << context << ", " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace corvane
