#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "tree_support.hpp"

namespace corvane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

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

    // 16 tasks: every node of depth 4, tiling the positions in order.
    const std::vector<std::size_t> sixteen = collect_subtrees(tree, 16);
    ASSERT_EQ(sixteen.size(), 16u);
    std::size_t position = 0;
    for (const std::size_t node : sixteen) {
        EXPECT_EQ(tree.nodes[node].start, position);
        position = tree.nodes[node].end;
    }
    EXPECT_EQ(position, 1000u);

    const KdTree small = KdTree::build(testing::random_matrix(8, 2, 5));
    EXPECT_EQ(collect_subtrees(small, 16), (std::vector<std::size_t>{0}));
}

// Node summaries against a direct scan of each node's positions.
TEST(BoruvkaNodes, MinCoreAndComponentLabels) {
    const DataMatrix m = testing::random_matrix(900, 3, 9);
    const BallTree tree = BallTree::build(m);
    std::mt19937_64 rng(9);
    std::vector<double> core(m.rows);
    for (double& c : core)
        c = 0.5 + static_cast<double>(rng() % 1000) / 100.0;
    core[tree.indices[3]] = std::nan("");
    // Components by tree position: long runs share a component, with a few strays.
    std::vector<std::size_t> component(m.rows);
    for (std::size_t i = 0; i < m.rows; ++i)
        component[i] = rng() % 50 == 0 ? rng() % 7 : i / 130;

    const std::vector<double> min_core = compute_node_min_core(tree, core);
    std::vector<std::size_t> labels;
    label_nodes(tree, component, labels);
    ASSERT_EQ(min_core.size(), tree.nodes.size());
    ASSERT_EQ(labels.size(), tree.nodes.size());
    std::size_t labelled = 0;  // both outcomes must occur for the check to mean anything
    for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
        const BallNode& record = tree.nodes[node];
        double smallest = kInf;
        std::set<std::size_t> seen;
        for (std::size_t i = record.start; i < record.end; ++i) {
            if (!std::isnan(core[tree.indices[i]])) {
                smallest = std::min(smallest, core[tree.indices[i]]);
            }
            seen.insert(component[i]);
        }
        EXPECT_EQ(min_core[node], smallest * smallest) << "node " << node;
        EXPECT_EQ(labels[node], seen.size() == 1 ? *seen.begin() : NO_COMPONENT) << "node " << node;
        labelled += seen.size() == 1 ? 1 : 0;
    }
    EXPECT_GT(labelled, 0u);
    EXPECT_LT(labelled, tree.nodes.size());
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
