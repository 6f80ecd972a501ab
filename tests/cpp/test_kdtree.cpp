#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "kdtree_bounded/kd_tree.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "tree_common/knn_search_impl.hpp"
#include "tree_support.hpp"

namespace corvane {
namespace {

using testing::RecordingHeap;

std::vector<std::size_t> positions_to_rows(const KdTree& tree, std::size_t start, std::size_t end) {
    return {tree.indices.begin() + static_cast<long>(start),
            tree.indices.begin() + static_cast<long>(end)};
}

TEST(KdTree, LeafSizeBoundaries) {
    struct Case {
        std::size_t rows, dims, left, right;  // left == 0: a single leaf
    };
    for (const Case c : {Case{10, 3, 0, 0}, Case{11, 3, 5, 6}, Case{20, 5, 0, 0},
                         Case{21, 5, 10, 11}, Case{11, 4, 5, 6}}) {
        const DataMatrix m = testing::random_matrix(c.rows, c.dims, 1);
        const KdTree tree = KdTree::build(m);
        SCOPED_TRACE(::testing::Message() << c.rows << " rows, " << c.dims << " columns");
        testing::expect_tree_layout(tree, m, KdTree::leaf_size(c.dims), "boundary");
        if (c.left == 0) {
            ASSERT_EQ(tree.nodes.size(), 1u);
            EXPECT_TRUE(tree.nodes[0].is_leaf);
            EXPECT_EQ(tree.nodes[0].count, c.rows);
        } else {
            ASSERT_EQ(tree.nodes.size(), 3u);
            EXPECT_EQ(tree.nodes[tree.nodes[0].left].count, c.left);
            EXPECT_EQ(tree.nodes[tree.nodes[0].right].count, c.right);
        }
    }
    EXPECT_TRUE(KdTree::build(DataMatrix(0, 3)).nodes.empty());
}

// Boxes are tight, the split column is the first one of largest spread, and the median
// row (which opens the right child) separates the keys of the two children.
TEST(KdTree, BoxesSplitColumnsAndMediansOnRandomData) {
    for (unsigned seed = 0; seed < 12; ++seed) {
        const std::size_t dims = 1 + seed % 6;
        const int levels = seed % 3 == 0 ? 3 : 0;  // small integer grids tie spreads and keys
        const DataMatrix m = testing::random_matrix(500 + seed * 37, dims, seed, levels);
        const KdTree tree = KdTree::build(m);
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        testing::expect_tree_layout(tree, m, KdTree::leaf_size(dims), "random");
        for (std::size_t id = 0; id < tree.nodes.size(); ++id) {
            const KdNode& node = tree.nodes[id];
            for (std::size_t j = 0; j < dims; ++j) {
                double lo = tree.tree_data[node.start * dims + j];
                double hi = lo;
                for (std::size_t p = node.start; p < node.end; ++p) {
                    lo = std::min(lo, tree.tree_data[p * dims + j]);
                    hi = std::max(hi, tree.tree_data[p * dims + j]);
                }
                ASSERT_EQ(tree.lower_bounds[id * dims + j], lo) << "node " << id;
                ASSERT_EQ(tree.upper_bounds[id * dims + j], hi) << "node " << id;
            }
            if (node.is_leaf) continue;
            std::size_t widest = 0;
            for (std::size_t j = 1; j < dims; ++j) {
                const double spread =
                    tree.upper_bounds[id * dims + j] - tree.lower_bounds[id * dims + j];
                if (spread >
                    tree.upper_bounds[id * dims + widest] - tree.lower_bounds[id * dims + widest]) {
                    widest = j;
                }
            }
            ASSERT_EQ(node.split_dim, widest) << "node " << id;
            // The median row opens the right child; deeper splits may move it inside it.
            const std::size_t cut = node.start + node.count / 2;
            double right_min = tree.tree_data[cut * dims + node.split_dim];
            for (std::size_t p = node.start; p < node.end; ++p) {
                const double key = tree.tree_data[p * dims + node.split_dim];
                if (p < cut) {
                    ASSERT_LE(key, node.split_value) << "node " << id << " position " << p;
                } else {
                    right_min = std::min(right_min, key);
                }
            }
            EXPECT_EQ(right_min, node.split_value) << "node " << id;
        }
    }
}

// Large ranges near the root are built on several threads; the tree must not depend on it.
TEST(KdTree, SameTreeForAnyBuildThreadCount) {
    const DataMatrix m = testing::random_matrix(150000, 2, 21, 1000);
    const KdTree one = KdTree::build(m, ExecutionContext(1));
    for (const std::size_t threads : {2, 3, 8}) {
        const KdTree many = KdTree::build(m, ExecutionContext(threads));
        EXPECT_TRUE(many.nodes == one.nodes) << threads << " threads";
        EXPECT_EQ(many.indices, one.indices) << threads << " threads";
        EXPECT_EQ(many.lower_bounds, one.lower_bounds) << threads << " threads";
        EXPECT_EQ(many.upper_bounds, one.upper_bounds) << threads << " threads";
        EXPECT_EQ(many.tree_data, one.tree_data) << threads << " threads";
    }
    testing::expect_tree_layout(one, m, KdTree::leaf_size(2), "large");
}

// The same bit for bit, zero signs in boxes and split values included, on data whose
// equal keys differ in sign and whose passes are cut into parts at two levels.
TEST(KdTree, SameBitsForAnyBuildThreadCount) {
    DataMatrix m = testing::random_matrix(140000, 5, 8, 3);
    for (std::size_t i = 0; i < m.values.size(); ++i) {
        if (m.values[i] == 0.0 && i % 3 == 0) m.values[i] = -0.0;
    }
    const auto bits = [](const std::vector<double>& v) {
        std::vector<std::uint64_t> out(v.size());
        std::memcpy(out.data(), v.data(), v.size() * sizeof(double));
        return out;
    };
    const KdTree one = KdTree::build(m, ExecutionContext(1));
    for (const std::size_t threads : {2, 5}) {
        const KdTree many = KdTree::build(m, ExecutionContext(threads));
        EXPECT_EQ(many.indices, one.indices) << threads << " threads";
        EXPECT_EQ(bits(many.lower_bounds), bits(one.lower_bounds)) << threads << " threads";
        EXPECT_EQ(bits(many.upper_bounds), bits(one.upper_bounds)) << threads << " threads";
        for (std::size_t id = 0; id < one.nodes.size(); ++id) {
            ASSERT_EQ(std::signbit(many.nodes[id].split_value),
                      std::signbit(one.nodes[id].split_value))
                << threads << " threads, node " << id;
        }
    }
}

// The whole build rule, transcribed plainly: a node's rows, kept in input order, split on
// the lowest column of largest spread at v, the key of rank count / 2; the left child
// takes the rows below v and then the rows equal to v, first rows first, until it holds
// count / 2. Rows keep their input order on either side, so a leaf lists its rows in
// input order.
struct ReferenceKdTree {
    const DataMatrix& m;
    std::size_t leaf_size;
    std::vector<std::size_t> order;                    // rows of the leaves, in preorder
    std::vector<std::pair<std::size_t, double>> cuts;  // (column, v) of nodes in preorder

    void build(const std::vector<std::size_t>& rows) {
        const std::size_t count = rows.size();
        if (count <= leaf_size) {
            order.insert(order.end(), rows.begin(), rows.end());
            cuts.emplace_back(0, 0.0);
            return;
        }
        std::size_t column = 0;
        double widest = -1.0;
        for (std::size_t j = 0; j < m.cols; ++j) {
            double lo = m.at(rows[0], j);
            double hi = lo;
            for (const std::size_t r : rows) {
                lo = std::min(lo, m.at(r, j));
                hi = std::max(hi, m.at(r, j));
            }
            if (hi - lo > widest) {
                widest = hi - lo;
                column = j;
            }
        }
        std::vector<double> keys;
        for (const std::size_t r : rows)
            keys.push_back(m.at(r, column));
        std::sort(keys.begin(), keys.end());
        const std::size_t mid = count / 2;
        const double v = keys[mid];
        std::size_t equal_left =
            mid -
            static_cast<std::size_t>(std::lower_bound(keys.begin(), keys.end(), v) - keys.begin());
        std::vector<std::size_t> left;
        std::vector<std::size_t> right;
        for (const std::size_t r : rows) {
            const double key = m.at(r, column);
            const bool go_left = key < v || (key == v && equal_left > 0);
            if (key == v && go_left) --equal_left;
            (go_left ? left : right).push_back(r);
        }
        cuts.emplace_back(column, v);
        build(left);
        build(right);
    }
};

// Ties on small integer grids decide which rows go left; the thread count must not.
TEST(KdTree, MatchesThePlainBuildRule) {
    struct Case {
        std::size_t rows, dims;
        int levels;
    };
    for (const Case c : {Case{3000, 2, 0}, Case{3000, 2, 4}, Case{2500, 5, 3}, Case{700, 1, 5},
                         Case{70000, 2, 40}, Case{70000, 3, 0}}) {
        const DataMatrix m = testing::random_matrix(c.rows, c.dims, 5, c.levels);
        ReferenceKdTree reference{m, KdTree::leaf_size(c.dims), {}, {}};
        std::vector<std::size_t> all(c.rows);
        std::iota(all.begin(), all.end(), std::size_t{0});
        reference.build(all);
        for (const std::size_t threads : {1, 2}) {
            const KdTree tree = KdTree::build(m, ExecutionContext(threads));
            SCOPED_TRACE(::testing::Message() << c.rows << " x " << c.dims << ", levels "
                                              << c.levels << ", " << threads << " threads");
            ASSERT_EQ(tree.indices, reference.order);
            ASSERT_EQ(tree.nodes.size(), reference.cuts.size());
            for (std::size_t id = 0; id < tree.nodes.size(); ++id) {
                ASSERT_EQ(tree.nodes[id].split_dim, reference.cuts[id].first) << "node " << id;
                ASSERT_EQ(tree.nodes[id].split_value, reference.cuts[id].second) << "node " << id;
            }
        }
    }
}

TEST(KdTree, EqualSpreadSplitsOnLowestColumn) {
    // Column 0 spans 1, columns 1 and 2 both span 5.
    std::vector<double> values;
    for (int i = 0; i < 11; ++i) {
        values.insert(values.end(), {i % 2 * 1.0, i * 0.5, 5.0 - i * 0.5});
    }
    const KdTree tree = KdTree::build(testing::matrix_from(3, values));
    ASSERT_EQ(tree.nodes.size(), 3u);
    EXPECT_EQ(tree.nodes[0].split_dim, 1u);
}

TEST(KdTree, QueryOnSplitValueSearchesLeftFirst) {
    // Rows 4..9 all sit on the median value 1; one of them lands in the left leaf.
    const DataMatrix m = testing::matrix_from(1, {0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 2});
    const KdTree tree = KdTree::build(m);
    ASSERT_EQ(tree.nodes.size(), 3u);
    ASSERT_EQ(tree.nodes[0].split_value, 1.0);
    const KdNode& left = tree.nodes[tree.nodes[0].left];
    RecordingHeap heap(1);
    const double query = 1.0;
    search_knn_unchecked(tree, &query, heap);
    EXPECT_EQ(heap.offered, positions_to_rows(tree, left.start, left.end));
    ASSERT_EQ(heap.heap.size(), 1u);
    const std::size_t found = heap.heap.entries()[0].index;
    EXPECT_EQ(heap.heap.entries()[0].distance, 0.0);
    EXPECT_EQ(m.at(found, 0), 1.0);
    const auto left_rows = positions_to_rows(tree, left.start, left.end);
    EXPECT_NE(std::find(left_rows.begin(), left_rows.end(), found), left_rows.end());
}

TEST(KdTree, EqualityPrunesPlaneAndBox) {
    // Plane: from 2.5 the worst of the 5 left rows is 2.5^2, exactly the squared distance
    // to the splitting plane at 5, so the right leaf is never scanned.
    {
        const KdTree tree =
            KdTree::build(testing::matrix_from(1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        ASSERT_EQ(tree.nodes[0].split_value, 5.0);
        RecordingHeap heap(5);
        const double query = 2.5;
        search_knn_unchecked(tree, &query, heap);
        const KdNode& left = tree.nodes[tree.nodes[0].left];
        EXPECT_EQ(heap.offered, positions_to_rows(tree, left.start, left.end));
    }
    // Box: from (5, 0) the plane at x = 8 is 9 away but the right box (x >= 8, y = 4) is
    // 9 + 16 = 25 away, exactly the worst kept distance (row (0, 0)).
    {
        std::vector<double> values;
        for (double x : {0, 1, 2, 3, 4})
            values.insert(values.end(), {x, 0.0});
        for (double x : {8, 9, 10, 11, 12, 13})
            values.insert(values.end(), {x, 4.0});
        const KdTree tree = KdTree::build(testing::matrix_from(2, values));
        ASSERT_EQ(tree.nodes[0].split_dim, 0u);
        ASSERT_EQ(tree.nodes[0].split_value, 8.0);
        RecordingHeap heap(5);
        const double query[2] = {5.0, 0.0};
        search_knn_unchecked(tree, query, heap);
        EXPECT_EQ(heap.heap.max_distance(), 25.0);
        const KdNode& left = tree.nodes[tree.nodes[0].left];
        EXPECT_EQ(heap.offered, positions_to_rows(tree, left.start, left.end));
    }
}

TEST(KdTree, KnnMatchesBruteForce) {
    for (unsigned seed = 0; seed < 14; ++seed) {
        const std::size_t dims = std::vector<std::size_t>{1, 2, 3, 4, 5, 8, 13}[seed % 7];
        const int levels = seed < 7 ? 0 : 4;  // the second half has many duplicate rows
        const DataMatrix m = testing::random_matrix(400 + 50 * seed, dims, seed, levels);
        const KdTree tree = KdTree::build(m);
        const DataMatrix outside = testing::random_matrix(50, dims, seed + 1000, levels);
        for (std::size_t q = 0; q < m.rows + outside.rows; ++q) {
            const double* point = q < m.rows ? m.row(q) : outside.row(q - m.rows);
            const std::vector<double> all = testing::brute_force_knn(m, point, m.rows);
            for (const std::size_t k : {std::size_t{1}, std::size_t{6}, std::size_t{25}, m.rows}) {
                KnnHeap heap(k);
                search_knn(tree, {point, dims}, heap);
                ASSERT_EQ(testing::sorted_distances(heap),
                          std::vector<double>(all.begin(), all.begin() + static_cast<long>(k)))
                    << "seed " << seed << " k " << k << " query " << q;
                for (const KnnEntry& e : heap.entries()) {
                    ASSERT_EQ(e.distance, squared_distance(m.row(e.index), point, dims));
                }
                if (k == 1 && q < m.rows) {  // the row itself or a duplicate of it
                    ASSERT_TRUE(std::equal(point, point + dims, m.row(heap.entries()[0].index)));
                }
            }
        }
    }
}

TEST(KdTree, ZeroColumnsCutByCount) {
    const DataMatrix m(25, 0);
    const KdTree tree = KdTree::build(m);
    testing::expect_tree_layout(tree, m, KdTree::leaf_size(0), "zero columns");
    ASSERT_EQ(tree.nodes.size(), 7u);  // 25 rows -> 12 (6 + 6) and 13 (6 + 7)
    RecordingHeap heap(3);
    search_knn_unchecked(tree, nullptr, heap);
    const KdNode& first_leaf = tree.nodes[2];
    ASSERT_TRUE(first_leaf.is_leaf);
    EXPECT_EQ(heap.offered, positions_to_rows(tree, first_leaf.start, first_leaf.end));
    for (const KnnEntry& e : heap.heap.entries())
        EXPECT_EQ(e.distance, 0.0);
}

TEST(KdTree, BoxDistances) {
    // Two leaves: rows (0,0), (1,1) ... in the left box, the rest in the right one.
    std::vector<double> values;
    for (int i = 0; i < 11; ++i)
        values.insert(values.end(), {i < 5 ? i * 0.25 : 3.0 + i, i < 5 ? i * 0.25 : 5.0});
    const KdTree tree = KdTree::build(testing::matrix_from(2, values));
    ASSERT_EQ(tree.nodes.size(), 3u);
    // Left box [0, 1] x [0, 1]; right box [8, 13] x [5, 5].
    EXPECT_EQ(tree.min_rdist_nodes(1, 2), 7.0 * 7.0 + 4.0 * 4.0);
    EXPECT_EQ(tree.min_rdist_nodes(2, 1), 7.0 * 7.0 + 4.0 * 4.0);
    EXPECT_EQ(tree.min_rdist_nodes(0, 1), 0.0);
    const double inside[2] = {0.5, 0.5};
    const double below[2] = {-2.0, 3.0};
    EXPECT_EQ(tree.min_rdist_point(1, inside), 0.0);
    EXPECT_EQ(tree.min_rdist_point(1, below), 4.0 + 4.0);
}

// The point bound against its definition, the sum in the one order of both floored gaps
// per column, for queries inside, outside and on the faces of every box; and never above
// the computed squared distance of a row of the node.
TEST(KdTree, PointBoundMatchesItsDefinitionOnRandomBoxes) {
    std::mt19937_64 rng(5);
    for (const std::size_t dims :
         {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{7}, std::size_t{13}}) {
        const DataMatrix m = testing::random_matrix(300, dims, static_cast<unsigned>(dims), 3);
        const KdTree tree = KdTree::build(m);
        std::uniform_int_distribution<std::size_t> pick(0, m.rows - 1);
        std::vector<double> query(dims);
        for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
            const double* lo = tree.lower_bounds.data() + node * dims;
            const double* hi = tree.upper_bounds.data() + node * dims;
            for (int trial = 0; trial < 6; ++trial) {
                for (std::size_t j = 0; j < dims; ++j) {
                    const double base = m.at(pick(rng), j);
                    query[j] = trial == 0 ? lo[j] : trial == 1 ? hi[j] : base + 0.5 * (trial - 3);
                }
                const double defined = lane_sum_of_squares(dims, [&](std::size_t j) {
                    return std::max(lo[j] - query[j], 0.0) + std::max(query[j] - hi[j], 0.0);
                });
                const double bound = tree.min_rdist_point(node, query.data());
                ASSERT_EQ(bound, defined) << "dims " << dims << " node " << node;
                if (dims == 5) {
                    ASSERT_EQ(tree.min_rdist_point<5>(node, query.data()), defined);
                }
                const KdNode& record = tree.nodes[node];
                for (std::size_t i = record.start; i < record.end; ++i)
                    ASSERT_LE(bound, squared_distance(tree.row(i), query.data(), dims));
            }
        }
    }
}

}  // namespace
}  // namespace corvane
