#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>

#include "common/internal_error.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// Per-node summaries of a tree, written for a range of nodes [first, last) and filled
// from the last node down. Nodes are in preorder, so the nodes of one subtree are a
// contiguous range and every child comes after its parent: a walk from the last node of
// a range down sees both children of a node before the node itself, which does the work
// of a bottom-up recursion without one. The children of a node in the range must be in
// the range or filled already, so disjoint subtrees can be summarised at the same time
// and the few nodes above them afterwards. `outputs` is the size of the per-node output,
// which must have one entry per node.
//
// leaf(node, record) fills a leaf; inner(node, record) an internal node, from its
// children's entries.
template <SpatialTree Tree, class Leaf, class Inner>
void fill_bottom_up(const Tree& tree, std::size_t outputs, std::size_t first, std::size_t last,
                    const char* what, const Leaf& leaf, const Inner& inner) {
    if (outputs != tree.nodes.size() || first > last || last > tree.nodes.size()) {
        fail_internal(std::string(what) + ": nodes [" + std::to_string(first) + ", " +
                      std::to_string(last) + ") with " + std::to_string(outputs) + " outputs for " +
                      std::to_string(tree.nodes.size()) + " nodes");
    }
    for (std::size_t node = last; node-- > first;) {
        const auto& record = tree.nodes[node];
        if (record.is_leaf) {
            leaf(node, record);
        } else {
            inner(node, record);
        }
    }
}

// Checks that a per-point input has one value per point of the tree.
template <SpatialTree Tree>
void check_point_values(const Tree& tree, std::size_t values, const char* what) {
    if (values != tree.n_points) {
        fail_internal(std::string(what) + ": " + std::to_string(values) + " values for " +
                      std::to_string(tree.n_points) + " points");
    }
}

// The smallest of `position_values` (one per tree position) under each node, the first
// one in tree order among equals; NaN values are ignored, and a node without a comparable
// value gets +infinity. A point's reachability is at least its core distance, so over the
// core distances this bounds what any search can find in a node.
template <SpatialTree Tree>
void smallest_per_node(const Tree& tree, std::span<const double> position_values,
                       std::span<double> out, std::size_t first, std::size_t last) {
    check_point_values(tree, position_values.size(), "smallest_per_node");
    constexpr double infinity = std::numeric_limits<double>::infinity();
    fill_bottom_up(
        tree, out.size(), first, last, "smallest_per_node",
        [&](std::size_t node, const auto& record) {
            double smallest = infinity;
            for (std::size_t i = record.start; i < record.end; ++i) {
                if (position_values[i] < smallest) smallest = position_values[i];
            }
            out[node] = smallest;
        },
        [&](std::size_t node, const auto& record) {
            double smallest = infinity;
            for (const std::size_t child : {record.left, record.right}) {
                if (child != NO_NODE && out[child] < smallest) smallest = out[child];
            }
            out[node] = smallest;
        });
}

// One past the last node of the subtree rooted at `root`.
template <SpatialTree Tree>
std::size_t subtree_end(const Tree& tree, std::size_t root) {
    check_index(root, tree.nodes.size(), "subtree_end");
    std::size_t node = root;
    while (!tree.nodes[node].is_leaf) {
        const auto& record = tree.nodes[node];
        node = record.right != NO_NODE ? record.right : record.left;
        if (node == NO_NODE) break;
    }
    return (node == NO_NODE ? root : node) + 1;
}

}  // namespace corvane
