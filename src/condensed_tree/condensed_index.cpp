#include "condensed_tree/condensed_index.hpp"

#include <algorithm>
#include <string>

#include "common/internal_error.hpp"

namespace corvane {

std::size_t CondensedIndex::bytes() const {
    return parent.bytes() + emission.bytes() + lambda.capacity() * sizeof(double) +
           (child_begin.capacity() + children.capacity() + cluster_size.capacity()) *
               sizeof(std::size_t);
}

CondensedIndex index_condensed_tree(const CondensedTree& tree, std::size_t n) {
    CondensedIndex index;
    index.n = n;
    if (tree.edges.empty()) return index;

    std::size_t largest = n;
    for (const CondensedEdge& edge : tree.edges) {
        if (edge.parent < n) fail_internal("condensed tree: a point is a parent");
        largest = std::max({largest, edge.parent, edge.child});
    }
    const std::size_t count = largest + 1;
    index.node_count = count;
    index.parent = IndexArray(count, count);
    index.parent.set(n, n);
    index.lambda.assign(count, 0.0);
    index.child_begin.assign(count - n + 1, 0);
    index.cluster_size.assign(count - n, 0);
    index.cluster_size[0] = n;
    index.emission = IndexArray(tree.edges.size(), count);

    std::vector<unsigned char> has_parent(count, 0);
    for (std::size_t i = 0; i < tree.edges.size(); ++i) {
        const CondensedEdge& edge = tree.edges[i];
        if (edge.child == n) fail_internal("condensed tree: the root is a child");
        if (has_parent[edge.child] != 0) {
            fail_internal("condensed tree: node " + std::to_string(edge.child) +
                          " is a child twice");
        }
        has_parent[edge.child] = 1;
        index.parent.set(edge.child, edge.parent);
        index.lambda[edge.child] = edge.lambda;
        index.emission.set(i, edge.child);
        if (edge.child >= n) {
            if (edge.child <= edge.parent) {
                fail_internal("condensed tree: cluster " + std::to_string(edge.child) +
                              " is not above its parent");
            }
            index.cluster_size[edge.child - n] = edge.child_size;
            ++index.child_begin[edge.parent - n + 1];
        } else if (edge.child_size != 1) {
            fail_internal("condensed tree: point " + std::to_string(edge.child) +
                          " has child size " + std::to_string(edge.child_size));
        }
    }
    for (std::size_t node = 0; node < count; ++node) {
        if (node != n && has_parent[node] == 0) {
            fail_internal("condensed tree: node " + std::to_string(node) + " has no parent");
        }
    }

    for (std::size_t i = 1; i < index.child_begin.size(); ++i) {
        index.child_begin[i] += index.child_begin[i - 1];
    }
    index.children.resize(index.child_begin.back());
    std::vector<std::size_t> fill(index.child_begin.begin(), index.child_begin.end() - 1);
    for (const CondensedEdge& edge : tree.edges) {
        if (edge.child >= n) index.children[fill[edge.parent - n]++] = edge.child;
    }
    return index;
}

CondensedTree condensed_edges(const CondensedIndex& index) {
    CondensedTree tree;
    tree.edges.reserve(index.edge_count());
    for (std::size_t i = 0; i < index.edge_count(); ++i)
        tree.edges.push_back(index.edge(i));
    return tree;
}

}  // namespace corvane
