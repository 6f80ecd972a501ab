#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"

namespace corvane {

// Per-node summaries that the dual-tree search prunes with, and the split of the query
// tree into independent search tasks. Instantiated for KdTree and BallTree. The node
// vectors are indexed by node number and run parallel to `tree.nodes`; each summary is
// written for a range of nodes [first, last) as fill_bottom_up (tree_common/bottom_up.hpp)
// describes, and so are the smallest squared core distances per node (smallest_per_node
// over the squared core distances in tree order).

// The component shared by all points of each node, or NO_COMPONENT.
// `position_component[i]` is the component of the point at tree position i.
template <class Tree>
void label_nodes(const Tree& tree, std::span<const std::size_t> position_component,
                 std::span<std::size_t> node_component, std::size_t first, std::size_t last);

// What a point's component can still gain through the point: the component's candidate
// `weight`, or 0 once the point's core term `core` reaches it, since every edge at the point
// weighs at least its core term and only a strictly cheaper edge replaces a candidate. A
// NaN core term is ignored by the weights and leaves the point open.
inline double open_weight(double core, double weight) {
    return core >= weight ? 0.0 : weight;
}

// label_nodes into `node_component` and, into `node_bound`, the largest open_weight among
// each node's points, in one pass over the points: `candidates[position_component[i]]` is
// the candidate and `position_core[i]` the core term of the point at tree position i.
template <class Tree>
void summarise_nodes(const Tree& tree, std::span<const std::size_t> position_component,
                     std::span<const double> position_core,
                     std::span<const BoruvkaCandidate> candidates,
                     std::span<std::size_t> node_component, std::span<double> node_bound,
                     std::size_t first, std::size_t last);

// Roots of disjoint subtrees that together cover every point, in the order the search
// tasks are started. The query tree is cut left-first down to depth 4, and cutting stops
// once target - 1 subtrees are listed; the subtrees still pending on the way back are
// listed as well, so the result can hold more than `target` nodes (at most 16).
template <class Tree>
std::vector<std::size_t> collect_subtrees(const Tree& tree, std::size_t target);

}  // namespace corvane
