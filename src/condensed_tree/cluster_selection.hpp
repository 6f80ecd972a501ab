#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "common/params.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Selected cluster ids in ascending order (label k is clusters[k]). No
// selected cluster is an ancestor of another.
struct ClusterSelection {
    std::vector<std::size_t> clusters;
};

// The parameters of a selection. Distances are in the units of the condensed tree's
// lambdas (their reciprocals).
struct SelectionParams {
    static constexpr std::size_t NO_SIZE_CAP = std::numeric_limits<std::size_t>::max();

    ClusterSelectionMethod method = ClusterSelectionMethod::Eom;
    bool allow_single_cluster = false;
    double epsilon = 0.0;
    std::size_t max_cluster_size = NO_SIZE_CAP;
    double epsilon_max = std::numeric_limits<double>::infinity();
};

// The flat clustering of a condensed tree.
//
// Eom: excess of mass; a cluster is kept over its descendants when its
// stability is at least the sum of its children's (propagated) stabilities, so
// ties favour the parent. The root takes part only with allow_single_cluster.
// Leaf: the clusters without cluster children (the root when it has none).
//
// A cluster is born at the distance 1 / its birth lambda (the root at +infinity);
// "born below d" means a birth lambda above 1 / d, so that a cluster born at exactly d
// is never below it, however 1 / lambda rounds.
//
// Caps: a cluster over a cap (more than max_cluster_size points, or born above
// epsilon_max) is barred while a cluster within both caps lies below it; Eom then
// passes its children's stabilities up without keeping it. A cluster over a cap with
// nothing within the caps below it (a leaf, say) is not barred, and every cluster below
// a cluster that is within the caps is within them too.
//
// epsilon > 0 then applies the HDBSCAN(epsilon) rule: a selected cluster born below
// epsilon is replaced by its nearest ancestor born at epsilon or above, but it never
// climbs onto a cluster over a cap (barred or not: a cluster kept over a cap does not
// grow), nor past the child of the root on its path without allow_single_cluster: it
// stops below them. Clusters below another selected cluster
// are then dropped. Epsilon <= 0 or NaN leaves the plain selection.
//
// An empty tree gives an empty selection.
ClusterSelection select_clusters(const CondensedTree& tree, std::size_t n,
                                 const SelectionParams& params);

// The same from the tree as a model keeps it, with its index, checking `context` for
// interruption as the passes go.
ClusterSelection select_clusters(const PackedCondensedTree& tree, const CondensedIndex& index,
                                 const SelectionParams& params,
                                 const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
