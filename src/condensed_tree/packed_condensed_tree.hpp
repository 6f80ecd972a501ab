#pragma once

#include <cstddef>
#include <vector>

#include "common/index_array.hpp"
#include "common/large_array_allocator.hpp"
#include "condensed_tree/condensed_tree.hpp"

namespace corvane {

// A condensed tree as a fitted model keeps it: its edges in emission order, one array per
// field, node ids in 4 bytes each while the tree allows. A point's child_size (1) is not
// stored and a cluster's once, by cluster. Passes over the edges read every array in
// order, as they would read the edge list.
class PackedCondensedTree {
  public:
    PackedCondensedTree() = default;

    // No edges yet over n points; push_back appends them in emission order.
    explicit PackedCondensedTree(std::size_t n);

    // The edges of `tree` over n points.
    PackedCondensedTree(const CondensedTree& tree, std::size_t n);

    // Appends an edge. A point with a child_size other than 1, a cluster with more than n
    // points, or an id beyond the clusters that n points can have (2n) throws
    // InternalError; the rest of the shape is checked by index_condensed_tree.
    void push_back(const CondensedEdge& edge) {
        const std::size_t largest = edge.parent > edge.child ? edge.parent : edge.child;
        if (largest >= id_bound_ ||
            (edge.child < n_ ? edge.child_size != 1 : edge.child_size > n_)) {
            fail_shape(edge);
        }
        if (largest >= node_count_) node_count_ = largest + 1;
        parent_.push_back(edge.parent);
        child_.push_back(edge.child);
        lambda_.push_back(edge.lambda);
        if (edge.child >= n_) set_cluster_size(edge.child, edge.child_size);
    }
    void reserve(std::size_t edges);

    // For filling out of order: room for `edges` edges naming ids below `node_count` (at
    // most 2n), which fill_edge then sets, each edge once, and fill_cluster_size every
    // cluster above the root, from any threads as long as no index is set twice. An id at
    // or beyond `node_count`, or a cluster of more than n points, throws InternalError.
    void resize_for_filling(std::size_t edges, std::size_t node_count);
    void fill_edge(std::size_t i, std::size_t parent, std::size_t child, double lambda) {
        if ((parent > child ? parent : child) >= node_count_) fail_fill(parent, child, 1);
        parent_.set(i, parent);
        child_.set(i, child);
        lambda_[i] = lambda;
    }
    void fill_cluster_size(std::size_t cluster, std::size_t size) {
        if (cluster <= n_ || cluster >= node_count_ || size > n_) fail_fill(n_, cluster, size);
        cluster_size_.set(cluster - n_, size);
    }

    std::size_t points() const { return n_; }
    std::size_t size() const { return lambda_.size(); }
    bool empty() const { return lambda_.empty(); }
    // 1 + the largest id of a parent or child; 0 for an empty tree.
    std::size_t node_count() const { return node_count_; }

    std::size_t parent(std::size_t i) const { return parent_[i]; }
    std::size_t child(std::size_t i) const { return child_[i]; }
    double lambda(std::size_t i) const { return lambda_[i]; }

    // The i-th edge in emission order.
    CondensedEdge edge(std::size_t i) const {
        const std::size_t child = child_[i];
        return {parent_[i], child, lambda_[i], child < n_ ? 1 : cluster_size_[child - n_]};
    }

    // The number of points under a cluster (the root holds all n).
    std::size_t cluster_size(std::size_t cluster) const {
        return cluster == n_ ? n_ : cluster_size_[cluster - n_];
    }

    // The edge list it was packed from.
    CondensedTree unpacked() const;

    std::size_t bytes() const;

  private:
    // Room for ids below `id_bound`.
    PackedCondensedTree(std::size_t n, std::size_t id_bound);

    [[noreturn]] void fail_shape(const CondensedEdge& edge) const;
    [[noreturn]] void fail_fill(std::size_t parent, std::size_t child, std::size_t size) const;
    void set_cluster_size(std::size_t cluster, std::size_t size);

    std::size_t n_ = 0;
    std::size_t id_bound_ = 0;
    std::size_t node_count_ = 0;
    IndexArray parent_;
    IndexArray child_;
    LargeArray<double> lambda_;
    IndexArray cluster_size_;  // by cluster id - n
};

}  // namespace corvane
