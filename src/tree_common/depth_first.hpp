#pragma once

#include <cstddef>

#include "tree_common/tree_contract.hpp"

namespace corvane {

// Deeper than any tree: each level halves the rows.
inline constexpr std::size_t MAX_TREE_DEPTH = 65;

// The depth-first walk of every point search over a tree. A search keeps, per node still
// to visit, an entry whose first member is `node` (NO_NODE: nothing to visit) and whatever
// it knew about that node when it met it. The walk takes up one entry at a time, handing
// the tree to every call:
//
// - `search.root(tree)` is the first entry (NO_NODE for an empty tree);
// - `search.pruned(tree, entry)` may drop an entry, judged at the moment it is taken up;
// - a leaf goes to `search.leaf(tree, node)`;
// - an internal node is split by `search.children(tree, node)` into the entry to take up
//   next and the one to come back to once everything below the first is done (either may
//   be NO_NODE).
//
// Instead of recursing, the entries to come back to wait on a stack, so the walk visits
// exactly what the recursive search "first child, then the other unless pruned by then"
// visits, in the same order, whatever the depth. An entry coming back from the stack is
// first offered to `search.outdated(entry)`, which may drop it on what was recorded when
// it was stacked, before pruned() looks at its node.
//
// The search is taken and handed back by value: as a local of the walk, whose address
// never escapes, its members can stay in registers across the heap's and the stack's
// stores; for the same reason it keeps no reference to the tree.
template <class Tree, class Search>
Search walk_depth_first(const Tree& tree, Search search) {
    using Entry = typename Search::Entry;
    Entry pending[MAX_TREE_DEPTH];
    std::size_t top = 0;
    Entry current = search.root(tree);
    for (;;) {
        while (current.node != NO_NODE && !search.pruned(tree, current)) {
            const auto& record = tree.nodes[current.node];
            if (record.is_leaf) {
                search.leaf(tree, record);
                break;
            }
            const auto [first, second] = search.children(tree, record);
            if (second.node != NO_NODE) pending[top++] = second;
            current = first;
        }
        do {
            if (top == 0) return search;
            current = pending[--top];
        } while (search.outdated(current));
    }
}

}  // namespace corvane
