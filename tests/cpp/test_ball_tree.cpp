#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "ball_tree/ball_tree_bounds.hpp"
#include "tree_common/knn_search_impl.hpp"
#include "tree_support.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::RecordingHeap;

std::vector<double> leaf_values(const BallTree& tree, std::size_t node) {
    return {tree.tree_data.begin() + static_cast<long>(tree.nodes[node].start * tree.dims),
            tree.tree_data.begin() + static_cast<long>(tree.nodes[node].end * tree.dims)};
}

TEST(BallTree, LeafSizeBoundaries) {
    const DataMatrix forty = testing::random_matrix(40, 3, 5);
    const BallTree leaf = BallTree::build(forty);
    ASSERT_EQ(leaf.nodes.size(), 1u);
    EXPECT_TRUE(leaf.nodes[0].is_leaf);
    // The radius is the largest distance from the mean of all rows.
    double worst = 0.0;
    for (std::size_t i = 0; i < 40; ++i)
        worst = std::max(worst,
                         testing::lane_order_squared_distance(forty.row(i), leaf.centroid(0), 3));
    EXPECT_EQ(leaf.nodes[0].radius_sq, worst);
    EXPECT_EQ(leaf.nodes[0].radius, std::sqrt(worst));

    const BallTree split = BallTree::build(testing::random_matrix(41, 3, 5));
    ASSERT_EQ(split.nodes.size(), 3u);
    EXPECT_EQ(split.nodes[split.nodes[0].left].count, 20u);
    EXPECT_EQ(split.nodes[split.nodes[0].right].count, 21u);
    EXPECT_TRUE(BallTree::build(DataMatrix(0, 4)).nodes.empty());
}

TEST(BallTree, BallsHoldTheirRowsOnRandomData) {
    for (unsigned seed = 0; seed < 8; ++seed) {
        const std::size_t dims = std::vector<std::size_t>{1, 3, 17, 40}[seed % 4];
        const DataMatrix m = testing::random_matrix(300 + 41 * seed, dims, seed, seed < 4 ? 0 : 3);
        const BallTree tree = BallTree::build(m);
        testing::expect_tree_layout(tree, m, BallTree::LEAF_SIZE, "random");
        for (std::size_t id = 0; id < tree.nodes.size(); ++id) {
            const BallNode& node = tree.nodes[id];
            double worst = 0.0;
            for (std::size_t p = node.start; p < node.end; ++p) {
                worst =
                    std::max(worst, testing::lane_order_squared_distance(
                                        tree.tree_data.data() + p * dims, tree.centroid(id), dims));
            }
            ASSERT_EQ(node.radius_sq, worst) << "seed " << seed << " node " << id;
        }
    }
}

// Rows 0..40 on a line: both ends are equally far from the centroid, so the first pole is
// the end met first in row order and the left child takes the 20 rows nearest to it.
TEST(BallTree, FirstFarthestRowIsThePole) {
    std::vector<double> ascending;
    for (int i = 0; i <= 40; ++i)
        ascending.push_back(i);
    std::vector<double> descending(ascending.rbegin(), ascending.rend());
    for (const auto& [values, left_max] :
         {std::pair{ascending, 19.0}, std::pair{descending, 40.0}}) {
        const BallTree tree = BallTree::build(testing::matrix_from(1, values));
        const std::vector<double> left = leaf_values(tree, tree.nodes[0].left);
        ASSERT_EQ(left.size(), 20u);
        EXPECT_EQ(*std::max_element(left.begin(), left.end()), left_max);
    }
}

TEST(BallTree, IdenticalRows) {
    const DataMatrix m = testing::matrix_from(2, std::vector<double>(2 * 100, 3.5));
    const BallTree tree = BallTree::build(m);
    testing::expect_tree_layout(tree, m, BallTree::LEAF_SIZE, "identical");
    for (const BallNode& node : tree.nodes)
        EXPECT_EQ(node.radius_sq, 0.0);
    KnnHeap heap(7);
    search_knn(tree, m.row_span(42), heap);
    EXPECT_EQ(heap.size(), 7u);
    EXPECT_EQ(heap.max_distance(), 0.0);
}

// 20 rows at -1 form the left leaf, 21 rows at +1 the right one; from 0 both centroids
// are 1 away, and the left leaf is searched first (and the right then pruned).
TEST(BallTree, EqualCentroidDistancesSearchLeftFirst) {
    std::vector<double> values(20, -1.0);
    values.insert(values.end(), 21, 1.0);
    const DataMatrix m = testing::matrix_from(1, values);
    const BallTree tree = BallTree::build(m);
    ASSERT_EQ(tree.nodes.size(), 3u);
    ASSERT_EQ(leaf_values(tree, tree.nodes[0].left), std::vector<double>(20, -1.0));
    RecordingHeap heap(1);
    const double query = 0.0;
    search_knn_unchecked(tree, &query, heap);
    ASSERT_EQ(heap.offered.size(), 20u);
    EXPECT_EQ(m.at(heap.heap.entries()[0].index, 0), -1.0);
}

// 32 rows at -2 and a leaf of 16 rows at 2 and 16 at 4 (centroid 3, radius 1). From 0
// with k = 1 the first leaf leaves kth = 2, and the other centroid is exactly
// (kth + radius)^2 = 9 away: it is pruned without offering a row.
TEST(BallTree, CentroidAtPruningDistanceIsPruned) {
    std::vector<double> values(32, -2.0);
    values.insert(values.end(), 16, 2.0);
    values.insert(values.end(), 16, 4.0);
    const DataMatrix m = testing::matrix_from(1, values);
    const BallTree tree = BallTree::build(m);
    ASSERT_EQ(tree.nodes.size(), 3u);
    const std::size_t far = tree.centroid(1)[0] == 3.0 ? 1 : 2;
    ASSERT_EQ(tree.centroid(far)[0], 3.0);
    ASSERT_EQ(tree.nodes[far].radius, 1.0);
    RecordingHeap heap(1);
    const double query = 0.0;
    search_knn_unchecked(tree, &query, heap);
    EXPECT_EQ(heap.offered.size(), 32u);
    for (std::size_t row : heap.offered)
        EXPECT_EQ(m.at(row, 0), -2.0);
}

TEST(BallTree, KnnMatchesBruteForce) {
    for (unsigned seed = 0; seed < 8; ++seed) {
        const std::size_t dims = std::vector<std::size_t>{1, 3, 17, 50}[seed % 4];
        const int levels = seed < 4 ? 0 : 3;
        const DataMatrix m = testing::random_matrix(500 + 30 * seed, dims, seed, levels);
        const BallTree tree = BallTree::build(m);
        const DataMatrix outside = testing::random_matrix(40, dims, seed + 1000, levels);
        for (std::size_t q = 0; q < m.rows + outside.rows; ++q) {
            const double* point = q < m.rows ? m.row(q) : outside.row(q - m.rows);
            const std::vector<double> all = testing::brute_force_knn(m, point, m.rows);
            for (const std::size_t k : {std::size_t{1}, std::size_t{5}, std::size_t{60}, m.rows}) {
                KnnHeap heap(k);
                search_knn(tree, {point, dims}, heap);
                ASSERT_EQ(testing::sorted_distances(heap),
                          std::vector<double>(all.begin(), all.begin() + static_cast<long>(k)))
                    << "seed " << seed << " k " << k << " query " << q;
                if (k == 1 && q < m.rows) {
                    ASSERT_TRUE(std::equal(point, point + dims, m.row(heap.entries()[0].index)));
                }
            }
        }
    }
}

TEST(BallTree, ZeroColumnsCutByCount) {
    const DataMatrix m(100, 0);
    const BallTree tree = BallTree::build(m);
    testing::expect_tree_layout(tree, m, BallTree::LEAF_SIZE, "zero columns");
    ASSERT_EQ(tree.nodes.size(), 7u);  // 100 rows -> 50 (25 + 25) and 50 (25 + 25)
    RecordingHeap heap(4);
    search_knn_unchecked(tree, nullptr, heap);
    EXPECT_EQ(heap.offered.size(), 25u);  // the first leaf fills the heap at distance 0
    EXPECT_EQ(heap.heap.max_distance(), 0.0);
}

TEST(BallTree, NodeBounds) {
    // Left leaf: 20 rows at (0, 0) and (0, 2) (centroid (0, 1), radius 1); right leaf: 21
    // rows at (10, 1) (radius 0). The gap between the balls is 10 - 1 - 0 = 9.
    std::vector<double> values;
    for (int i = 0; i < 20; ++i)
        values.insert(values.end(), {0.0, i % 2 * 2.0});
    for (int i = 0; i < 21; ++i)
        values.insert(values.end(), {10.0, 1.0});
    const BallTree tree = BallTree::build(testing::matrix_from(2, values));
    ASSERT_EQ(tree.nodes.size(), 3u);
    const std::size_t small = tree.nodes[1].radius == 1.0 ? 1 : 2;
    ASSERT_EQ(tree.nodes[small].radius, 1.0);
    EXPECT_EQ(tree.min_rdist_nodes(1, 2), 81.0);
    EXPECT_EQ(tree.min_rdist_nodes(2, 1), 81.0);
    EXPECT_EQ(tree.min_rdist_nodes(0, 1), 0.0);  // overlapping balls
    EXPECT_EQ(tree.min_rdist_nodes(small, small), 0.0);
}

}  // namespace
}  // namespace corvane
