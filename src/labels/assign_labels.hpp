#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Label k for the points of selection.clusters[k], -1 for noise. A point
// belongs to the nearest selected cluster above it. Points that reach only the
// root are noise, except when the root is the whole selection and
// allow_single_cluster is true: then the points whose lambda reaches a
// threshold get label 0. The threshold is 1 / cluster_selection_epsilon for any
// epsilon other than 0, otherwise the largest lambda directly under the root.
// An empty tree or selection gives all -1.
std::vector<std::int32_t> assign_labels(const CondensedTree& tree,
                                        const ClusterSelection& selection, std::size_t n,
                                        double cluster_selection_epsilon,
                                        bool allow_single_cluster);

// The same from the tree's index (not empty), checking `context` for interruption.
std::vector<std::int32_t> assign_labels(const CondensedIndex& index,
                                        const ClusterSelection& selection,
                                        double cluster_selection_epsilon, bool allow_single_cluster,
                                        const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
