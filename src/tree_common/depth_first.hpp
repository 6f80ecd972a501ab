#pragma once

#include <cstddef>

#include "tree_common/tree_contract.hpp"

namespace corvane {

// Deeper than any tree: each level halves the rows.
inline constexpr std::size_t MAX_TREE_DEPTH = 65;

// The depth-first walk of every point search over a tree. A search keeps, per node still
// to visit, an entry whose first member is `node` (NO_NODE: nothing to visit) and whatever
// it knew about that node when it met it. The walk takes up one entry at a time:
//
// - `search.pruned(entry)` may drop it, judged at the moment it is taken up;
// - a leaf goes to `search.leaf(node)`;
// - an internal node is split by `search.children(node, entry)` into the entry to take up
//   next and the one to come back to once everything below the first is done (either may
//   be NO_NODE).
//
// Instead of recursing, the entries to come back to wait on a stack, so the walk visits
// exactly what the recursive search "first child, then the other unless pruned by then"
// visits, in the same order, whatever the depth.
template <class Tree, class Search>
void walk_depth_first(const Tree& tree, Search& search) {
    using Entry = typename Search::Entry;
    Entry pending[MAX_TREE_DEPTH];
    std::size_t top = 0;
    Entry current = search.root();
    for (;;) {
        if (current.node != NO_NODE && !search.pruned(current)) {
            const auto& record = tree.nodes[current.node];
            if (!record.is_leaf) {
                const auto [first, second] = search.children(record, current);
                if (second.node != NO_NODE) pending[top++] = second;
                current = first;
                continue;
            }
            search.leaf(record);
        }
        if (top == 0) return;
        current = pending[--top];
    }
}

}  // namespace corvane
