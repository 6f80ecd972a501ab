#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"

namespace corvane {

// Read-only inputs of one dual-tree search, shared by every worker of an iteration.
// Per-point values are kept in tree order (entry i belongs to the point at tree position
// i, input row `indices[i]`), so that a leaf's values are as contiguous as its rows.
struct BoruvkaSearchState {
    std::vector<double> position_core_sq;         // squared core distances, fixed per run
    std::vector<std::size_t> position_component;  // components, rebuilt per iteration
    std::vector<double> node_min_core_sq;         // compute_node_min_core, fixed per run
    std::vector<std::size_t> node_component;      // label_nodes, rebuilt per iteration
    MutualReachabilitySq mutual_reachability{1.0};
};

// What one search writes: its candidate table, indexed by component representative, and
// per node an upper bound on the candidate weights of the node's points. Candidates only
// ever decrease during a search, so a bound taken at any earlier moment stays valid; the
// search skips scans that the bound settles and tightens it when it scans a node.
struct BoruvkaSearchTable {
    std::span<BoruvkaCandidate> candidates;
    std::span<double> node_bound;
};

// Tree contract (KdTree and BallTree, instantiated for both): `nodes` in preorder with
// `left`, `right` (NO_NODE when missing), `count`, `start`, `end` and `is_leaf`;
// `indices` (tree position -> input row); `tree_data` (the 64-bit rows in tree order,
// `dims` values each); `n_points`; and `min_rdist_nodes(a, b)`, a lower bound on the
// squared distance between any point of node a and any point of node b. That bound is
// the only place where the two trees differ.

// Lowers `table.candidates` (indexed by component representative) to the cheapest
// mutual-reachability edge between a point of the query subtree q and a point of the
// reference subtree r that lie in different components; an edge found improves both
// components' entries. Replacements are strict, so among equal weights the pair met
// first stays. q or r may be NO_NODE (nothing to do).
template <class Tree>
void dual_tree_search(const Tree& tree, const BoruvkaSearchState& state, std::size_t q,
                      std::size_t r, BoruvkaSearchTable table);

}  // namespace corvane
