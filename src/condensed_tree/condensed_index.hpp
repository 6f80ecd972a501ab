#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "common/index_array.hpp"
#include "condensed_tree/condensed_tree.hpp"

namespace corvane {

// A condensed tree as a fitted model keeps it: flat per-node arrays that the selection
// and the per-point results read, and the order in which condensing emitted the edges,
// so that the edge list comes back exactly (edge(i), condensed_edges) without being kept.
//
// Ids are dense: points 0 .. n-1, the root n, the other clusters n+1 .. node_count-1,
// each with a larger id than its parent, so one ascending pass over the clusters meets
// every parent before its children and one descending pass every child before its
// parent.
struct CondensedIndex {
    std::size_t n = 0;
    std::size_t node_count = 0;  // 1 + the largest id; 0 for an empty tree
    // Per node: the cluster it is a child of (the root: itself), and the lambda of that
    // edge: a point's lambda, a cluster's birth lambda (0.0 for the root).
    IndexArray parent;
    std::vector<double> lambda;
    // Cluster children of cluster c, in edge order:
    // children[child_begin[c - n] .. child_begin[c - n + 1]).
    std::vector<std::size_t> child_begin;
    std::vector<std::size_t> children;
    // Per cluster: the points under it (its edge's child_size; n for the root).
    std::vector<std::size_t> cluster_size;
    // The child of every edge, in emission order.
    IndexArray emission;

    bool empty() const { return node_count == 0; }
    std::size_t root() const { return n; }
    std::size_t end() const { return node_count; }  // one past the last cluster id
    std::span<const std::size_t> children_of(std::size_t cluster) const {
        return std::span<const std::size_t>(children).subspan(
            child_begin[cluster - n], child_begin[cluster - n + 1] - child_begin[cluster - n]);
    }

    std::size_t edge_count() const { return emission.size(); }
    // The i-th edge in emission order.
    CondensedEdge edge(std::size_t i) const {
        const std::size_t child = emission[i];
        return {parent[child], child, lambda[child], child < n ? 1 : cluster_size[child - n]};
    }

    std::size_t bytes() const;
};

// Builds the index and checks the tree's shape (root n, every other node a child exactly
// once, cluster children above their parents, no gaps in the ids); a tree of another
// shape throws InternalError.
CondensedIndex index_condensed_tree(const CondensedTree& tree, std::size_t n);

// The edge list of an index, in emission order: the tree it was built from.
CondensedTree condensed_edges(const CondensedIndex& index);

}  // namespace corvane
