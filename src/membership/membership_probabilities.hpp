#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Per point, where its lambda lies between the birth of its cluster (0) and
// the deepest finite point lambda inside that cluster (1), clamped to [0, 1].
// Noise gets 0; a cluster without such a span (all points leave at its birth,
// or at +infinity) gives its points 1. Never NaN.
std::vector<double> membership_probabilities(const CondensedTree& tree,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels, std::size_t n);

// The same from the tree's index (not empty).
// `context` is checked for interruption as the passes go.
std::vector<double> membership_probabilities(const CondensedIndex& index,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels,
                                             const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
