#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/mst_edge.hpp"
#include "common/params.hpp"
#include "common/stage_clock.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The per-point results of a fit, computed from its minimum spanning tree.
struct HierarchyResult {
    std::vector<std::int32_t> labels;    // per point, -1 for noise
    std::vector<double> probabilities;   // per point, in [0, 1]; 0 for noise
    std::vector<double> outlier_scores;  // per point, in [0, 1]
    std::vector<double> persistence;     // per cluster, in label order
};

// Single-linkage tree, condensed tree, cluster selection, labels, membership
// probabilities, GLOSH outlier scores and persistence, in that order, on the
// calling thread. `edges` must connect all n points (a spanning tree of the
// mutual-reachability graph; extra edges closing cycles are ignored) and
// min_cluster_size must be at least 2; otherwise InternalError. One point
// gives label -1, probability 0, score 0 and no clusters. Every step checks
// `context` for interruption. `clock`, when given, is charged with each step.
HierarchyResult cluster_hierarchy(std::span<const MstEdge> edges, std::size_t n,
                                  std::size_t min_cluster_size, ClusterSelectionMethod method,
                                  bool allow_single_cluster, double cluster_selection_epsilon,
                                  const ExecutionContext& context = ExecutionContext(),
                                  StageClock* clock = nullptr);

}  // namespace corvane
