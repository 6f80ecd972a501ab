#pragma once

#include <cstddef>
#include <vector>

#include "common/index_array.hpp"
#include "linkage/single_linkage_tree.hpp"

namespace corvane {

// The single-linkage tree laid out for top-down walks: its rows in depth-first, left-first
// pre-order, and its points in the order of the leaves from left to right. Every subtree
// is then one run of rows and one run of points, and a walk from the root reads memory
// forwards, where the rows in merge order would send it to a random place at every step.
//
// Row i keeps its lambda and the number of points under its left child; the rest follows
// from the position. A node is named by a Node: a row (size >= 2) is at `row`, a point
// (size 1) is points()[first]. Its left child is {row + 1, first, left size}, its right
// child {row + left size, first + left size, size - left size}: the left subtree holds
// left size - 1 rows.
//
// Built once per fit from the rows in merge order; kept by the model, so that condensing
// at another min_cluster_size reads it instead of rebuilding the rows from the spanning
// tree.
class PreorderLinkage {
  public:
    struct Node {
        std::size_t row = 0;
        std::size_t first = 0;
        std::size_t size = 0;
    };

    PreorderLinkage() = default;

    // The layout of `tree` over n points (n - 1 rows, the last one the root, or none for a
    // single point). Rows of another shape throw InternalError.
    PreorderLinkage(const SingleLinkageTree& tree, std::size_t n);

    std::size_t points() const { return n_; }
    bool empty() const { return lambda_.empty(); }

    Node root() const { return {0, 0, n_}; }
    bool is_point(const Node& node) const { return node.size == 1; }
    std::size_t point(const Node& node) const { return point_[node.first]; }
    double lambda(const Node& node) const { return lambda_[node.row]; }
    Node left(const Node& node) const { return {node.row + 1, node.first, left_size_[node.row]}; }
    Node right(const Node& node) const {
        const std::size_t left_size = left_size_[node.row];
        return {node.row + left_size, node.first + left_size, node.size - left_size};
    }

    std::size_t bytes() const;

  private:
    std::size_t n_ = 0;
    std::vector<double> lambda_;  // per row
    IndexArray left_size_;        // per row
    IndexArray point_;            // per leaf, left to right
};

}  // namespace corvane
