#pragma once

#include <cstddef>
#include <vector>

#include "common/index_array.hpp"
#include "common/large_array_allocator.hpp"
#include "linkage/single_linkage_tree.hpp"
#include "linkage/spanning_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The single-linkage tree laid out for top-down walks: its rows in depth-first pre-order
// with the smaller child of every row first (the left one on a tie), and its points in the
// order of the leaves in that walk. Every subtree is one run of rows and one run of
// points, and a walk that goes on into the larger child of every split (what condensing
// does while a cluster sheds small groups of points) reads memory forwards: the smaller
// child's run comes right after the row, the larger child's right after that. The rows in
// merge order would send it to a random place at every step.
//
// Row i keeps its lambda, the number of points under its left child and the smallest
// point under it; the rest follows from the position. A node is named by a Node: a row
// (size >= 2) is at `row`, a point (size 1) is points()[first]. Its first child (the
// smaller) is at {row + 1, first, its size}, its second at {row + s, first + s, size - s},
// s being the first child's size: that subtree holds s - 1 rows. left() and right() keep
// the tree's own sides, which decide the order in which condensing emits the points of a
// part that leaves a cluster; the parts of a split come in the order of their smallest
// points.
//
// Built once per fit from the rows in merge order; kept by the model, so that condensing
// at another min_cluster_size reads it instead of rebuilding the rows from the spanning
// tree.
// The smallest point under every row of `tree` over n points, per row in merge order:
// children come before their parents, so one pass upwards finds them. A row that names a
// row after it throws InternalError. `context` is checked for interruption as it goes.
IndexArray smallest_points(const SingleLinkageTree& tree, std::size_t n,
                           const ExecutionContext& context = ExecutionContext());

class PreorderLinkage {
  public:
    struct Node {
        std::size_t row = 0;
        std::size_t first = 0;
        std::size_t size = 0;
    };

    PreorderLinkage() = default;

    // The layout of `tree` over n points (n - 1 rows, the last one the root, or none for a
    // single point). Rows of another shape throw InternalError. `context` is checked for
    // interruption as the rows are placed.
    PreorderLinkage(const SingleLinkageTree& tree, std::size_t n,
                    const ExecutionContext& context = ExecutionContext());

    // The same from the rows that the single-linkage pass over `tree` gave
    // (link_spanning_tree_rows), their lambdas from its weights.
    PreorderLinkage(const LinkedRows& rows, const SpanningTree& tree,
                    const ExecutionContext& context = ExecutionContext());

    std::size_t points() const { return n_; }
    bool empty() const { return lambda_.empty(); }

    Node root() const { return {0, 0, n_}; }
    bool is_point(const Node& node) const { return node.size == 1; }
    std::size_t point(const Node& node) const { return point_[node.first]; }
    // The smallest point (input row) under the node: depends only on which points it
    // holds, not on how the rows paired them.
    std::size_t smallest_point(const Node& node) const {
        return is_point(node) ? point(node) : smallest_point_[node.row];
    }
    double lambda(const Node& node) const { return lambda_[node.row]; }
    Node left(const Node& node) const {
        const std::size_t left_size = left_size_[node.row];
        const std::size_t right_size = node.size - left_size;
        return right_size < left_size ? second(node, right_size, left_size)
                                      : first(node, left_size);
    }
    Node right(const Node& node) const {
        const std::size_t left_size = left_size_[node.row];
        const std::size_t right_size = node.size - left_size;
        return right_size < left_size ? first(node, right_size)
                                      : second(node, left_size, right_size);
    }

    std::size_t bytes() const;

  private:
    // Lays out `rows` over n_ points, lambda_at(r) being the lambda of row r.
    template <class LambdaAt>
    void place_rows(const LinkedRows& rows, const LambdaAt& lambda_at,
                    const ExecutionContext& context);
    // place_rows with positions and first leaves (below n_) held in `Index`.
    template <class Index, class LambdaAt>
    void place_rows_with(const LinkedRows& rows, const LambdaAt& lambda_at,
                         const ExecutionContext& context);

    static Node first(const Node& node, std::size_t size) {
        return {node.row + 1, node.first, size};
    }
    static Node second(const Node& node, std::size_t skipped, std::size_t size) {
        return {node.row + skipped, node.first + skipped, size};
    }

    std::size_t n_ = 0;
    LargeArray<double> lambda_;  // per row
    IndexArray left_size_;       // per row
    IndexArray smallest_point_;  // per row
    IndexArray point_;           // per leaf, left to right
};

}  // namespace corvane
