#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "common/internal_error.hpp"
#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "tree_common/knn_search.hpp"
#include "tree_support.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::same_bits;

template <class Tree>
class CoreDistances : public ::testing::Test {};
using TreeTypes = ::testing::Types<KdTree, BallTree>;
TYPED_TEST_SUITE(CoreDistances, TreeTypes);

// Pushes for row 0 arrive as (0, 0.0), (1, 4.0), (2, 1.0), (3, 1.0), (4, 0.5): one leaf
// scanned in row order leaves the heap array [(1.0, 2), (0.0, 0), (0.5, 4)].
TYPED_TEST(CoreDistances, NeighboursInHeapArrayOrder) {
    const DataMatrix m = testing::matrix_from(2, {0, 0, 2, 0, 1, 0, 0, 1, 0.5, 0.5});
    const TypeParam tree = TypeParam::build(m);
    const CoreDistanceResult result = tree_core_distances(m, tree, 3, true, ExecutionContext(1));
    EXPECT_EQ(result.core_distances[0], 1.0);
    ASSERT_EQ(result.neighbors.size(), 5u * 2u);
    EXPECT_EQ(result.neighbors[0], 2u);
    EXPECT_EQ(result.neighbors[1], 4u);
}

// Random data with duplicates: each row matches its own search (array order, row itself
// skipped) and the brute-force k-th distance, whatever the thread count.
TYPED_TEST(CoreDistances, RowsMatchTheirSearchForAnyThreadCount) {
    for (unsigned seed = 0; seed < 4; ++seed) {
        const std::size_t dims = seed % 2 == 0 ? 3 : 18;
        const DataMatrix m = testing::random_matrix(1500, dims, seed, seed < 2 ? 0 : 4);
        const TypeParam tree = TypeParam::build(m);
        const std::size_t k = 4 + seed;
        const CoreDistanceResult one = tree_core_distances(m, tree, k, true, ExecutionContext(1));
        for (const std::size_t threads : {2, 3, 8}) {
            const CoreDistanceResult many =
                tree_core_distances(m, tree, k, true, ExecutionContext(threads));
            EXPECT_TRUE(same_bits(one.core_distances, many.core_distances))
                << "seed " << seed << " threads " << threads;
            EXPECT_EQ(one.neighbors, many.neighbors) << "seed " << seed << " threads " << threads;
        }
        KnnHeap heap(k);
        for (std::size_t i = 0; i < m.rows; ++i) {
            heap.clear();
            search_knn(tree, m.row_span(i), heap);
            std::vector<std::size_t> expected;
            for (const KnnEntry& e : heap.entries()) {
                if (e.index != i && expected.size() < k - 1) expected.push_back(e.index);
            }
            expected.resize(k - 1, 0);
            const std::vector<std::size_t> got(
                one.neighbors.begin() + static_cast<long>(i * (k - 1)),
                one.neighbors.begin() + static_cast<long>((i + 1) * (k - 1)));
            ASSERT_EQ(got, expected) << "seed " << seed << " row " << i;
            ASSERT_EQ(one.core_distances[i],
                      std::sqrt(testing::brute_force_knn(m, m.row(i), k).back()))
                << "seed " << seed << " row " << i;
        }
    }
}

TYPED_TEST(CoreDistances, SmallestAndLargestK) {
    const DataMatrix m = testing::random_matrix(300, 4, 11);
    const TypeParam tree = TypeParam::build(m);
    const CoreDistanceResult first = tree_core_distances(m, tree, 1, true, ExecutionContext(2));
    EXPECT_TRUE(first.neighbors.empty());
    for (double d : first.core_distances)
        EXPECT_EQ(d, 0.0);

    const CoreDistanceResult all = tree_core_distances(m, tree, m.rows, false, ExecutionContext(2));
    EXPECT_TRUE(all.neighbors.empty());
    for (std::size_t i = 0; i < m.rows; ++i) {
        double farthest = 0.0;
        for (std::size_t j = 0; j < m.rows; ++j)
            farthest = std::max(farthest, squared_distance(m.row(i), m.row(j), 4));
        ASSERT_EQ(all.core_distances[i], std::sqrt(farthest)) << "row " << i;
    }
}

// 60 identical rows and k = 5: every search keeps the first five copies it meets, so most
// rows do not see themselves and list four other copies.
TYPED_TEST(CoreDistances, IdenticalRowsFillTheHeapWithoutThemselves) {
    const DataMatrix m = testing::matrix_from(2, std::vector<double>(2 * 60, 1.25));
    const TypeParam tree = TypeParam::build(m);
    const CoreDistanceResult result = tree_core_distances(m, tree, 5, true, ExecutionContext(1));
    std::size_t without_self = 0;
    for (std::size_t i = 0; i < m.rows; ++i) {
        EXPECT_EQ(result.core_distances[i], 0.0);
        KnnHeap heap(5);
        search_knn(tree, m.row_span(i), heap);
        std::vector<std::size_t> expected;
        for (const KnnEntry& e : heap.entries()) {
            if (e.index != i) expected.push_back(e.index);
        }
        without_self += expected.size() == 5 ? 1 : 0;
        expected.resize(4);  // only the first k - 1 in array order when i was not kept
        EXPECT_EQ(std::vector<std::size_t>(result.neighbors.begin() + static_cast<long>(i * 4),
                                           result.neighbors.begin() + static_cast<long>(i * 4 + 4)),
                  expected)
            << "row " << i;
    }
    EXPECT_GT(without_self, 0u);
}

TYPED_TEST(CoreDistances, ZeroColumnsAndEmptyInput) {
    const DataMatrix m(300, 0);
    const TypeParam tree = TypeParam::build(m);
    const CoreDistanceResult result = tree_core_distances(m, tree, 3, true, ExecutionContext(2));
    EXPECT_EQ(result.core_distances, std::vector<double>(300, 0.0));
    EXPECT_EQ(result.neighbors.size(), 600u);

    const DataMatrix empty(0, 2);
    const CoreDistanceResult none = tree_core_distances(empty, TypeParam::build(empty), 1, true);
    EXPECT_TRUE(none.core_distances.empty());
    EXPECT_TRUE(none.neighbors.empty());
}

TYPED_TEST(CoreDistances, RejectsBadArguments) {
    const DataMatrix m = testing::random_matrix(20, 2, 3);
    const TypeParam tree = TypeParam::build(m);
    EXPECT_THROW(tree_core_distances(m, tree, 0, false), InternalError);
    EXPECT_THROW(tree_core_distances(m, tree, 21, false), InternalError);
    EXPECT_THROW(tree_core_distances(testing::random_matrix(20, 3, 3), tree, 2, false),
                 InternalError);
    EXPECT_THROW(tree_core_distances(testing::random_matrix(19, 2, 3), tree, 2, false),
                 InternalError);
    std::vector<double> short_query(1, 0.0);
    KnnHeap heap(1);
    EXPECT_THROW(search_knn(tree, short_query, heap), InternalError);
}

}  // namespace
}  // namespace corvane
