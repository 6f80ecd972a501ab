#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "common/mst_edge.hpp"
#include "knn_heap/neighbour_lists.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

// Minimum spanning tree of the mutual-reachability graph of the tree's points by Boruvka's
// scheme: points first merge along neighbour-list pairs that are the cheapest edge at one
// of their ends, then every iteration finds each component's cheapest outgoing edge with
// a dual-tree search over `tree` and adds all of them at once.
//
// `tree` is the KdTree or BallTree built over the training rows (contract in
// tree_common/tree_contract.hpp); `core_distances` holds one value per point in true units;
// `neighbors` is the n x `neighbors_per_point` row-major neighbour matrix of the
// core-distance search (empty when `neighbors_per_point` is 0 or the search kept no
// lists), by input row or by position in `tree`, taken over and released once seeding
// has read it; `alpha` scales distances in mutual reachability. With
// context.threads() >= 2 the passes over all points and the searches are spread over that
// many threads.
//
// Returns n - 1 edges for finite input (none for n <= 1), in acceptance order: the
// seeding batches, then one batch per iteration, each batch ascending by (weight, a, b).
// An edge's `a` lies in the component that owned the candidate and `b` outside it; the
// weight is in true units. The edges do not depend on the thread count: every step
// either works per point or per component from read-only inputs, or combines partial
// results in a fixed order, and ties are broken by fixed keys.
template <class Tree>
std::vector<MstEdge> dual_tree_boruvka(const Tree& tree, std::span<const double> core_distances,
                                       NeighbourLists neighbors, std::size_t neighbors_per_point,
                                       double alpha,
                                       const ExecutionContext& context = ExecutionContext());

// The same under another metric: distances, bounds and weights as `space` measures them
// (search_space/search_space.hpp), `tree` being the one the space belongs to. The
// Euclidean form above is this one with SquaredEuclideanSpace. Instantiated for the
// pairings of CORVANE_FOR_EACH_TREE_SPACE (search_space/tree_spaces.hpp).
template <class Tree, class Space>
std::vector<MstEdge> space_dual_tree_boruvka(const Tree& tree, const Space& space,
                                             std::span<const double> core_distances,
                                             NeighbourLists neighbors,
                                             std::size_t neighbors_per_point, double alpha,
                                             const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
