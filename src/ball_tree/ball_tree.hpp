#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "common/data_matrix.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "parallel/execution_context.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// One node of a BallTree: the rows at tree positions [start, end) lie within `radius`
// of the node's centroid. An internal node's left child holds [start, start + count / 2)
// and its right child the rest.
struct BallNode : TreeNode {
    double radius_sq = 0.0;  // largest squared distance from the centroid to a row
    double radius = 0.0;     // sqrt(radius_sq)

    friend bool operator==(const BallNode&, const BallNode&) = default;
};

// Ball tree for Euclidean data with many columns, where boxes prune poorly. Offers the
// tree contract of tree_common/tree_contract.hpp; its bounds for point searches are in
// ball_tree_bounds.hpp.
//
// Layout: node i's centroid is centroids[i * dims, i * dims + dims). The input rows are
// not kept. All distances are squared Euclidean distances.
//
// Splits: a node with more than LEAF_SIZE rows is cut at its median along the line
// through two poles, A = the row farthest from the centroid and B = the row farthest
// from A (the first row reaching the maximum in both scans). A matrix without columns
// needs no special case: A = B, every key is 0 and the ranges are cut by count.
//
// Immutable after build(); any number of threads may search it at once, each with its
// own KnnHeap.
struct BallTree : TreeStorage<BallNode> {
    static constexpr std::size_t LEAF_SIZE = 40;
    // Point searches keep their column loops general: ball trees hold wide rows.
    static constexpr std::size_t UNROLLED_DIMS = 0;

    std::vector<double> centroids;

    // Copies `matrix`; an empty matrix gives a tree without nodes.
    static BallTree build(const DataMatrix& matrix,
                          const ExecutionContext& context = ExecutionContext());

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
