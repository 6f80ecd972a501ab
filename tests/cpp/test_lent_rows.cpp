#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/compute_mst.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "mst/mst_route.hpp"
#include "tree_common/input_order.hpp"
#include "tree_support.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

// Rows with both zeros and exact duplicates, so that a copy made through arithmetic, or a
// row put back at a neighbour's place, shows in the bits.
DataMatrix signed_zero_rows(std::size_t n, std::size_t dims, unsigned seed) {
    DataMatrix m = testing::random_matrix(n, dims, seed, 5);
    for (std::size_t i = 0; i < m.values.size(); i += 3)
        m.values[i] = m.values[i] == 0.0 ? -0.0 : m.values[i] - 2.0;
    return m;
}

TEST(LentRows, TreeBuiltOnLentRowsEqualsTheCopiedOneAndGivesThemBack) {
    struct Case {
        std::size_t rows, dims, threads;
    };
    // 70 000 rows spread the way back over the threads.
    for (const Case c : {Case{0, 2, 1}, Case{1, 3, 1}, Case{37, 2, 2}, Case{2000, 5, 3},
                         Case{70000, 2, 1}, Case{70000, 2, 3}}) {
        SCOPED_TRACE(::testing::Message()
                     << c.rows << " x " << c.dims << ", " << c.threads << " threads, seed 7");
        const DataMatrix m = signed_zero_rows(c.rows, c.dims, 7);
        const ExecutionContext context(c.threads);
        const KdTree copied = KdTree::build(m, context);
        KdTree lent = KdTree::build(std::vector<double>(m.values), c.rows, c.dims, context);
        EXPECT_EQ(lent.nodes, copied.nodes);
        EXPECT_EQ(lent.indices, copied.indices);
        EXPECT_TRUE(testing::same_bits(lent.tree_data, copied.tree_data));
        EXPECT_TRUE(testing::same_bits(input_order_rows(std::move(lent), context), m.values));
    }
}

// The fit's route lends the matrix to its tree: the matrix comes back bit for bit and the
// spanning tree is the one found over a tree with its own copy, on data full of ties,
// without neighbour lists (k = 1) and with them, on one thread and on several.
TEST(LentRows, KdBoruvkaRouteGivesTheMatrixBackAndFindsTheSameTree) {
    for (const std::size_t k : {std::size_t{1}, std::size_t{6}}) {
        for (const std::size_t threads : {std::size_t{1}, std::size_t{3}}) {
            SCOPED_TRACE(::testing::Message() << "k " << k << ", " << threads << " threads");
            const DataMatrix original = signed_zero_rows(3000, 2, 11);
            ASSERT_EQ(choose_mst_route(Metric::euclidean(), 3000, 2, 1.0), MstRoute::BoruvkaKdTree);
            const ExecutionContext context(threads);
            const KdTree tree = KdTree::build(original, context);
            CoreDistanceResult core = tree_core_distances(original, tree, k, true, context);
            const std::vector<MstEdge> expected = dual_tree_boruvka(
                tree, core.core_distances, std::move(core.neighbors), k - 1, 1.0, context);

            DataMatrix data = original;
            const MstResult result = compute_mst(data, Metric::euclidean(), 1.0, k, context);
            EXPECT_EQ(data.rows, original.rows);
            EXPECT_EQ(data.cols, original.cols);
            EXPECT_TRUE(testing::same_bits(data.values, original.values));
            EXPECT_EQ(result.edges, expected);
            EXPECT_TRUE(testing::same_bits(result.core_distances, core.core_distances));
        }
    }
}

}  // namespace
}  // namespace corvane
