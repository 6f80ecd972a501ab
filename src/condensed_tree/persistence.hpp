#pragma once

#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// One value per selected cluster, in the selection's ascending order: the
// distance span from the cluster's birth (1 / birth lambda; +infinity for the
// root) down to its last split or point departure (1 / the largest lambda of
// its edges; 0 when that lambda is +infinity). Never negative, never NaN; a
// selected root has +infinity.
std::vector<double> compute_persistence(const CondensedTree& tree,
                                        const ClusterSelection& selection);

// The same from the tree's index.
// `context` is checked for interruption as the pass goes.
std::vector<double> compute_persistence(const CondensedIndex& index,
                                        const ClusterSelection& selection,
                                        const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
