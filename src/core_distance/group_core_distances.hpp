#pragma once

#include <cstddef>

#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The result of tree_core_distances(matrix, tree, k, keep_neighbors, context) for the
// matrix `tree` was built from, with 1 <= k <= tree.n_points, found several rows at a
// time. The groups are the largest subtrees of at most GROUP_QUERY_ROWS rows; a group's
// rows, cut into runs of up to 4 or 8 rows (by instruction set and column count) that lie
// together, walk the tree a run at a time, one vector lane per row, each with its own
// SortedKnnList and limit, the lists first filled from the group's own rows. A node is
// skipped only when its box bound reaches the limit of every row of the run; at a leaf
// each row of the leaf is measured against all lanes at once and only the lanes it
// improves push.
//
// Exactness: every lane's distances and box bounds are computed by the very operations of
// squared_distance and KdTree::min_rdist_point, so the core distances are bit for bit
// those of tree_core_distances (the k-th smallest of the same exactly computed distances,
// whatever the order they are offered in). Each neighbour list names the same rows as
// tree_core_distances' list: where no other row ties the k-th distance the k nearest rows
// are unique; where one does, which tied rows a list keeps follows the order of offering,
// so that row is searched again alone. The spanning tree seeded from the lists is
// therefore the same. A list is written in ascending distance, ties by input row, so its
// array order is the same on every copy of the walk. Every run is answered on its own, so
// the result is the same for any thread count.
//
// With `naming` ListNaming::tree_positions the lists are those same lists by tree position
// (core_distance.hpp), for a spanning-tree search over `tree` to read in its own order.
//
// Matrices without columns or with more than KdTree::UNROLLED_DIMS columns are answered
// by tree_core_distances itself, whose lists are by input row whatever `naming` asks.
CoreDistanceResult kd_group_core_distances(const KdTree& tree, std::size_t k, bool keep_neighbors,
                                           const ExecutionContext& context,
                                           ListNaming naming = ListNaming::input_rows);

// The number of copies of the walk the machine can run, each compiled for an instruction
// set on vectors of its width: the portable one, then x86-64-v3 and x86-64-v4 where the
// compiler builds them and the machine has them. kd_group_core_distances takes the last.
std::size_t group_walk_levels();

// kd_group_core_distances with copy `level` (below group_walk_levels(); an internal error
// otherwise), so that each copy can be checked against the others.
CoreDistanceResult kd_group_core_distances_at_level(const KdTree& tree, std::size_t k,
                                                    bool keep_neighbors,
                                                    const ExecutionContext& context,
                                                    std::size_t level,
                                                    ListNaming naming = ListNaming::input_rows);

// Rows per query group: the largest subtrees of at most this many rows are the groups.
inline constexpr std::size_t GROUP_QUERY_ROWS = 20;

}  // namespace corvane
