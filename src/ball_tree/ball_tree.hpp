#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "common/data_matrix.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "knn_heap/knn_heap.hpp"
#include "tree_common/no_node.hpp"

namespace corvane {

// One node of a BallTree: the rows at tree positions [start, end) lie within `radius`
// of the node's centroid. An internal node's left child holds [start, start + count / 2)
// and its right child the rest.
struct BallNode {
    double radius_sq = 0.0;  // largest squared distance from the centroid to a row
    double radius = 0.0;     // sqrt(radius_sq)
    std::size_t left = NO_NODE;
    std::size_t right = NO_NODE;
    std::size_t count = 0;
    std::size_t start = 0;
    std::size_t end = 0;
    bool is_leaf = false;

    friend bool operator==(const BallNode&, const BallNode&) = default;
};

// Ball tree for Euclidean data with many columns, where boxes prune poorly.
//
// Layout: nodes in preorder (root 0, a node before its left subtree, the left subtree
// before the right); node i's centroid is centroids[i * dims, i * dims + dims).
// `tree_data` holds the rows in tree order (a node's rows are one contiguous block) and
// `indices` maps a tree position to its input row number; the input rows are not kept.
// All distances are squared Euclidean distances.
//
// Splits: a node with more than LEAF_SIZE rows is cut at its median along the line
// through two poles, A = the row farthest from the centroid and B = the row farthest
// from A (the first row reaching the maximum in both scans). A matrix without columns
// needs no special case: A = B, every key is 0 and the ranges are cut by count.
//
// Immutable after build(); any number of threads may search it at once, each with its
// own KnnHeap.
struct BallTree {
    static constexpr std::size_t LEAF_SIZE = 40;

    std::vector<BallNode> nodes;
    std::vector<double> centroids;
    std::vector<double> tree_data;
    std::vector<std::size_t> indices;
    std::size_t dims = 0;
    std::size_t n_points = 0;

    // Copies `matrix`; an empty matrix gives a tree without nodes.
    static BallTree build(const DataMatrix& matrix);

    // Offers the rows of the tree to `heap` (created with bound k and cleared by the
    // caller) so that it ends with the k nearest rows to `point` (dims values): squared
    // distances, input row numbers. Children are visited nearer centroid first (left on
    // ties); a node is pruned once the heap is full and its centroid lies at least
    // (kth + radius) away, kth being the square root of the worst kept distance.
    // Requires a non-empty tree.
    void search_knn(std::span<const double> point, KnnHeap& heap) const;

    const double* centroid(std::size_t node) const { return centroids.data() + node * dims; }

    // Lower bound on the squared distance between any row of node a and any row of node
    // b: the gap between the two balls, squared; 0 when they overlap.
    double min_rdist_nodes(std::size_t a, std::size_t b) const {
        const double centres = std::sqrt(squared_distance(centroid(a), centroid(b), dims));
        const double gap = centres - nodes[a].radius - nodes[b].radius;
        return gap <= 0.0 ? 0.0 : gap * gap;
    }
};

}  // namespace corvane
