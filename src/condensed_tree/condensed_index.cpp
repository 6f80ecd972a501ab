#include "condensed_tree/condensed_index.hpp"

#include <algorithm>
#include <string>

#include "common/internal_error.hpp"

namespace corvane {

CondensedIndex index_condensed_tree(const PackedCondensedTree& tree) {
    const std::size_t n = tree.points();
    CondensedIndex index;
    index.n = n;
    if (tree.empty()) return index;

    std::size_t largest = n;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const CondensedEdge edge = tree.edge(i);
        if (edge.parent < n) fail_internal("condensed tree: a point is a parent");
        largest = std::max({largest, edge.parent, edge.child});
    }
    const std::size_t count = largest + 1;
    index.node_count = count;
    index.parent.assign(count, CondensedIndex::NO_PARENT);
    index.lambda.assign(count, 0.0);
    index.child_begin.assign(count - n + 1, 0);

    for (std::size_t i = 0; i < tree.size(); ++i) {
        const CondensedEdge edge = tree.edge(i);
        if (edge.child == n) fail_internal("condensed tree: the root is a child");
        if (index.parent[edge.child] != CondensedIndex::NO_PARENT) {
            fail_internal("condensed tree: node " + std::to_string(edge.child) +
                          " is a child twice");
        }
        index.parent[edge.child] = edge.parent;
        index.lambda[edge.child] = edge.lambda;
        if (edge.child >= n) {
            if (edge.child <= edge.parent) {
                fail_internal("condensed tree: cluster " + std::to_string(edge.child) +
                              " is not above its parent");
            }
            ++index.child_begin[edge.parent - n + 1];
        }
    }
    for (std::size_t node = 0; node < count; ++node) {
        if (node != n && index.parent[node] == CondensedIndex::NO_PARENT) {
            fail_internal("condensed tree: node " + std::to_string(node) + " has no parent");
        }
    }

    for (std::size_t i = 1; i < index.child_begin.size(); ++i) {
        index.child_begin[i] += index.child_begin[i - 1];
    }
    index.children.resize(index.child_begin.back());
    std::vector<std::size_t> fill(index.child_begin.begin(), index.child_begin.end() - 1);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const CondensedEdge edge = tree.edge(i);
        if (edge.child >= n) index.children[fill[edge.parent - n]++] = edge.child;
    }
    return index;
}

}  // namespace corvane
