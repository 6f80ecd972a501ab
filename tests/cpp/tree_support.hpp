#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "common/data_matrix.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "knn_heap/knn_heap.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane::testing {

// Uniform values in [0, 1), or integers in [0, levels) when levels > 0 (many duplicate
// rows and equal distances).
inline DataMatrix random_matrix(std::size_t n, std::size_t dims, unsigned seed, int levels = 0) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::uniform_int_distribution<int> level(0, std::max(levels - 1, 0));
    DataMatrix m(n, dims);
    for (double& v : m.values)
        v = levels > 0 ? level(rng) : uniform(rng);
    return m;
}

inline DataMatrix matrix_from(std::size_t dims, const std::vector<double>& values) {
    DataMatrix m(values.size() / dims, dims);
    m.values = values;
    return m;
}

// The k smallest squared distances from `point` to the rows of `m`, ascending, computed
// with the same kernel as the trees.
inline std::vector<double> brute_force_knn(const DataMatrix& m, const double* point,
                                           std::size_t k) {
    std::vector<double> all(m.rows);
    for (std::size_t i = 0; i < m.rows; ++i)
        all[i] = squared_distance(m.row(i), point, m.cols);
    std::sort(all.begin(), all.end());
    all.resize(std::min(k, all.size()));
    return all;
}

inline std::vector<double> sorted_distances(const KnnHeap& heap) {
    std::vector<double> out;
    for (const KnnEntry& e : heap.entries())
        out.push_back(e.distance);
    std::sort(out.begin(), out.end());
    return out;
}

// A KnnHeap that also records every candidate offered, in order.
struct RecordingHeap {
    KnnHeap heap;
    std::vector<std::size_t> offered;

    explicit RecordingHeap(std::size_t k) : heap(k) {}
    bool is_full() const { return heap.is_full(); }
    double max_distance() const { return heap.max_distance(); }
    void push(std::size_t index, double distance) {
        offered.push_back(index);
        heap.push(index, distance);
    }
};

// Layout shared by both trees: preorder numbering, children cutting their parent's
// range at count / 2, leaves exactly the nodes of at most `leaf_size` rows, `indices` a
// permutation and `tree_data` the rows of the matrix `m` the tree was built from, in that
// order.
template <class Tree>
void expect_tree_layout(const Tree& tree, const DataMatrix& m, std::size_t leaf_size,
                        const char* label) {
    SCOPED_TRACE(label);
    const std::size_t n = tree.n_points;
    if (n == 0) {
        EXPECT_TRUE(tree.nodes.empty());
        return;
    }
    std::vector<std::size_t> sorted = tree.indices;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < n; ++i)
        ASSERT_EQ(sorted[i], i);
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t j = 0; j < tree.dims; ++j) {
            ASSERT_EQ(tree.tree_data[p * tree.dims + j], m.at(tree.indices[p], j));
        }
    }
    // Walk in preorder with an explicit stack; node numbers must come out 0, 1, 2, ...
    std::size_t expected_number = 0;
    std::vector<std::size_t> stack{0};
    ASSERT_EQ(tree.nodes[0].start, 0u);
    ASSERT_EQ(tree.nodes[0].end, n);
    while (!stack.empty()) {
        const std::size_t id = stack.back();
        stack.pop_back();
        ASSERT_EQ(id, expected_number++);
        const auto& node = tree.nodes[id];
        ASSERT_EQ(node.count, node.end - node.start);
        if (node.is_leaf) {
            EXPECT_LE(node.count, leaf_size) << "node " << id;
            EXPECT_EQ(node.left, NO_NODE);
            EXPECT_EQ(node.right, NO_NODE);
            continue;
        }
        EXPECT_GT(node.count, leaf_size) << "node " << id;
        const std::size_t cut = node.start + node.count / 2;
        ASSERT_NE(node.left, NO_NODE);
        ASSERT_NE(node.right, NO_NODE);
        EXPECT_EQ(tree.nodes[node.left].start, node.start);
        EXPECT_EQ(tree.nodes[node.left].end, cut);
        EXPECT_EQ(tree.nodes[node.right].start, cut);
        EXPECT_EQ(tree.nodes[node.right].end, node.end);
        stack.push_back(node.right);
        stack.push_back(node.left);
    }
    EXPECT_EQ(expected_number, tree.nodes.size());
}

}  // namespace corvane::testing
