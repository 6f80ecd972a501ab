#pragma once

#include <cstddef>
#include <vector>

#include "common/params.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"

namespace corvane {

// Selected cluster ids in ascending order (label k is clusters[k]). No
// selected cluster is an ancestor of another.
struct ClusterSelection {
    std::vector<std::size_t> clusters;
};

// The flat clustering of a condensed tree.
//
// Eom: excess of mass; a cluster is kept over its descendants when its
// stability is at least the sum of its children's (propagated) stabilities, so
// ties favour the parent. The root takes part only with allow_single_cluster.
// Leaf: the clusters without cluster children (the root when it has none).
//
// cluster_selection_epsilon > 0 then applies the HDBSCAN(epsilon) rule: a
// selected cluster born at a distance (1 / birth lambda) below epsilon is
// replaced by its nearest ancestor born at epsilon or above; without
// allow_single_cluster a cluster never climbs past the child of the root on
// its path. Clusters below another selected cluster are then dropped.
// Epsilon <= 0 or NaN leaves the plain selection.
//
// An empty tree gives an empty selection.
ClusterSelection select_clusters(const CondensedTree& tree, std::size_t n,
                                 ClusterSelectionMethod method, bool allow_single_cluster,
                                 double cluster_selection_epsilon);

// The same from the tree as a model keeps it, with its index.
ClusterSelection select_clusters(const PackedCondensedTree& tree, const CondensedIndex& index,
                                 ClusterSelectionMethod method, bool allow_single_cluster,
                                 double cluster_selection_epsilon);

}  // namespace corvane
