#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/data_matrix.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "parallel/execution_context.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// One node of a KdTree. Its points are the tree positions [start, end); an internal
// node's left child holds [start, start + count / 2) and its right child the rest,
// including the median row whose key is `split_value`.
struct KdNode : TreeNode {
    std::size_t split_dim = 0;  // 0 in a leaf
    double split_value = 0.0;   // 0.0 in a leaf

    friend bool operator==(const KdNode&, const KdNode&) = default;
};

// KD-tree with tight axis-aligned boxes, for Euclidean data with few columns. Offers the
// tree contract of tree_common/tree_contract.hpp; its bounds for point searches are in
// kd_tree_bounds.hpp.
//
// Layout: node i's box is lower_bounds / upper_bounds[i * dims, i * dims + dims). The
// input rows are not kept: the caller's matrix has them. All distances are squared
// Euclidean distances.
//
// Splits: a node with more than leaf_size(dims) rows splits on the column of largest
// spread (the lowest column on ties) at its median row. Rows whose key equals the
// median's fill the left child in input order, and either child keeps its rows in input
// order, so that the tree depends only on the data, not on how the median is found. A
// matrix without columns is cut by count alone (split_dim 0, split_value 0.0): every
// distance is 0 and the first leaf searched fills the heap, so the search stays
// logarithmic instead of scanning one huge leaf.
//
// Immutable after build(); any number of threads may search it at once, each with its
// own KnnHeap.
struct KdTree : TreeStorage<KdNode> {
    // The point searches unroll their column loops up to this many columns, the widest
    // data a KD-tree is built for.
    static constexpr std::size_t UNROLLED_DIMS = 16;

    std::vector<double> lower_bounds;
    std::vector<double> upper_bounds;

    static std::size_t leaf_size(std::size_t dims) { return dims < 5 ? 10 : 20; }

    // Copies `matrix`; an empty matrix gives a tree without nodes. The subtrees of large
    // ranges near the root are built on up to context.threads() threads; the tree is the
    // same for any thread count.
    static KdTree build(const DataMatrix& matrix,
                        const ExecutionContext& context = ExecutionContext());

    // The same tree, taking the n x dims row-major `rows` as its storage instead of a copy:
    // a caller that lends its rows to the tree holds them once. input_order_rows
    // (tree_common/tree_storage.hpp) gives them back.
    static KdTree build(std::vector<double> rows, std::size_t n, std::size_t dims,
                        const ExecutionContext& context = ExecutionContext());

    // Squared distance from `point` to the box of `node`, in the one summation order of
    // squared_distance: a row of the node differs from `point` in every column by at least
    // the box's gap, so its computed distance is never below this (see
    // lane_sum_of_squares_unless), and pruning on it needs no margin. `Dims` fixes the
    // column count at compile time (DYNAMIC_DIMS: `dims`).
    template <std::size_t Dims = DYNAMIC_DIMS>
    double min_rdist_point(std::size_t node, const double* point) const {
        const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
        const double* lo = lower_bounds.data() + node * n;
        const double* hi = upper_bounds.data() + node * n;
        // At most one of the two differences is positive (lo <= hi), so the larger of them,
        // floored at 0, is the gap: one comparison fewer than adding both floored terms.
        return lane_order_sum<Dims>(n, [lo, hi, point](std::size_t j) {
            return std::max(std::max(lo[j] - point[j], point[j] - hi[j]), 0.0);
        });
    }

    // Squared distance between the boxes of nodes a and b in the same order: a lower bound
    // on the computed squared distance between any row of a and any row of b. `Dims` as
    // above.
    template <std::size_t Dims = DYNAMIC_DIMS>
    double min_rdist_nodes(std::size_t a, std::size_t b) const {
        const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
        const double* lo_a = lower_bounds.data() + a * n;
        const double* hi_a = upper_bounds.data() + a * n;
        const double* lo_b = lower_bounds.data() + b * n;
        const double* hi_b = upper_bounds.data() + b * n;
        return lane_order_sum<Dims>(n, [lo_a, hi_a, lo_b, hi_b](std::size_t j) {
            return std::max(lo_b[j] - hi_a[j], 0.0) + std::max(lo_a[j] - hi_b[j], 0.0);
        });
    }

  private:
    // lane_sum_of_squares, with the plain loop it equals up to three columns: the hot case
    // of 2 and 3 columns skips the empty lanes.
    template <std::size_t Dims = DYNAMIC_DIMS, class Gap>
    static double lane_order_sum(std::size_t n, const Gap& gap) {
        if (n <= 3) {
            double sum = 0.0;
            for (std::size_t j = 0; j < n; ++j) {
                const double g = gap(j);
                sum += g * g;
            }
            return sum;
        }
        return lane_sum_of_squares<Dims>(n, gap);
    }
};

}  // namespace corvane
