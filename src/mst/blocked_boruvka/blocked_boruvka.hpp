#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "block_search/block_tree.hpp"
#include "common/mst_edge.hpp"
#include "knn_heap/neighbour_lists.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Minimum spanning tree of the mutual-reachability graph by the Boruvka scheme of
// dual_tree_boruvka (the same seeding from neighbour lists, merging and renumbering),
// whose search for every component's cheapest outgoing edge runs block by block over a
// BlockTree: each block's rows against the tree with GramScreen deciding most pairs and
// the exact distance the rest (block_search.hpp). Pruned are node pairs within one
// component, nodes whose ball gap and smallest core distance cannot beat the block's
// candidates, and rows whose own core distance cannot.
//
// The arguments are those of dual_tree_boruvka, with `tree` the BlockTree over the
// training rows. Every component's candidate becomes the smallest outgoing edge under
// (weight, from, to), tree positions breaking ties, so the edges do not depend on the
// thread count or on which worker searched which block.
std::vector<MstEdge> blocked_boruvka(const BlockTree& tree, std::span<const double> core_distances,
                                     NeighbourLists neighbors, std::size_t neighbors_per_point,
                                     double alpha,
                                     const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
