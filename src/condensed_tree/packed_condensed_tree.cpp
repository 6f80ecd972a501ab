#include "condensed_tree/packed_condensed_tree.hpp"

#include <algorithm>
#include <string>

#include "common/internal_error.hpp"

namespace corvane {

PackedCondensedTree::PackedCondensedTree(const CondensedTree& tree, std::size_t n) : n_(n) {
    std::size_t largest = n;
    for (const CondensedEdge& edge : tree.edges)
        largest = std::max({largest, edge.parent, edge.child});
    const std::size_t count = tree.edges.size();
    parent_ = IndexArray(count, largest + 1);
    child_ = IndexArray(count, largest + 1);
    lambda_.resize(count);
    cluster_size_ = IndexArray(count > 0 ? largest + 1 - n : 0, n + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const CondensedEdge& edge = tree.edges[i];
        if (edge.child < n ? edge.child_size != 1 : edge.child_size > n) {
            fail_internal("condensed tree: node " + std::to_string(edge.child) + " of size " +
                          std::to_string(edge.child_size) + " over " + std::to_string(n) +
                          " points");
        }
        parent_.set(i, edge.parent);
        child_.set(i, edge.child);
        lambda_[i] = edge.lambda;
        if (edge.child >= n) cluster_size_.set(edge.child - n, edge.child_size);
    }
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
