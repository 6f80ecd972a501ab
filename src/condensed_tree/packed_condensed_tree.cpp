#include "condensed_tree/packed_condensed_tree.hpp"

#include <algorithm>
#include <string>

#include "common/internal_error.hpp"

namespace corvane {

// Clusters are fewer than the points, so every id is below 2n.
PackedCondensedTree::PackedCondensedTree(std::size_t n) : PackedCondensedTree(n, 2 * n) {}

PackedCondensedTree::PackedCondensedTree(std::size_t n, std::size_t id_bound)
    : n_(n),
      id_bound_(id_bound),
      parent_(0, id_bound),
      child_(0, id_bound),
      cluster_size_(0, n + 1) {}

namespace {

std::size_t id_bound(const CondensedTree& tree, std::size_t n) {
    std::size_t largest = n;
    for (const CondensedEdge& edge : tree.edges)
        largest = std::max({largest, edge.parent, edge.child});
    return largest + 1;
}

}  // namespace

PackedCondensedTree::PackedCondensedTree(const CondensedTree& tree, std::size_t n)
    : PackedCondensedTree(n, id_bound(tree, n)) {
    reserve(tree.edges.size());
    for (const CondensedEdge& edge : tree.edges)
        push_back(edge);
}

void PackedCondensedTree::reserve(std::size_t edges) {
    parent_.reserve(edges);
    child_.reserve(edges);
    lambda_.reserve(edges);
}

void PackedCondensedTree::resize_for_filling(std::size_t edges, std::size_t node_count) {
    if (node_count > id_bound_) {
        fail_internal("condensed tree: " + std::to_string(node_count) + " nodes over " +
                      std::to_string(n_) + " points");
    }
    node_count_ = node_count;
    parent_.resize(edges);
    child_.resize(edges);
    lambda_.resize(edges);
    cluster_size_.resize(node_count > n_ ? node_count - n_ : 0);
}

void PackedCondensedTree::fail_fill(std::size_t parent, std::size_t child, std::size_t size) const {
    fail_internal("condensed tree: edge " + std::to_string(parent) + " -> " +
                  std::to_string(child) + " of size " + std::to_string(size) + " over " +
                  std::to_string(node_count_) + " nodes");
}

void PackedCondensedTree::fail_shape(const CondensedEdge& edge) const {
    const std::size_t largest = std::max(edge.parent, edge.child);
    if (largest >= id_bound_) {
        fail_internal("condensed tree: id " + std::to_string(largest) + " over " +
                      std::to_string(n_) + " points");
    }
    fail_internal("condensed tree: node " + std::to_string(edge.child) + " of size " +
                  std::to_string(edge.child_size) + " over " + std::to_string(n_) + " points");
}

void PackedCondensedTree::set_cluster_size(std::size_t cluster, std::size_t size) {
    while (cluster_size_.size() <= cluster - n_)
        cluster_size_.push_back(0);
    cluster_size_.set(cluster - n_, size);
}

CondensedTree PackedCondensedTree::unpacked() const {
    CondensedTree tree;
    tree.edges.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        tree.edges.push_back(edge(i));
    return tree;
}

std::size_t PackedCondensedTree::bytes() const {
    return parent_.bytes() + child_.bytes() + lambda_.capacity() * sizeof(double) +
           cluster_size_.bytes();
}

}  // namespace corvane
