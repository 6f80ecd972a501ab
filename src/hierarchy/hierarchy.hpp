#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/mst_edge.hpp"
#include "common/stage_clock.hpp"
#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "linkage/preorder_linkage.hpp"
#include "linkage/spanning_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The cluster hierarchy of a fit, each piece once, as its model keeps it:
// - the minimum spanning tree in merge order, from which one union-find pass rebuilds the
//   single-linkage tree (build_single_linkage);
// - the single-linkage tree in pre-order, which condensing walks;
// - the condensed tree of that single-linkage tree at `min_cluster_size`, its edges in
//   emission order;
// - the clusters selected from the condensed tree, and the parameters they were selected
//   with.
// Labels, membership probabilities, outlier scores and persistence are derived from the
// condensed tree and the selection. Distances (spanning-tree weights, lambdas as their
// reciprocals, the selection's epsilons) are in the units of the data the spanning tree
// was computed on.
//
// A fit links the hierarchy (link_hierarchy), then selects on it (select_hierarchy) and
// installs the selection; a re-selection does the same on a kept hierarchy, condensing
// again only for a new min_cluster_size. Either way the results come from the same steps
// on the same pre-order tree, so a re-selection gives what a fit with its parameters
// gives, bit for bit.
struct Hierarchy {
    SpanningTree spanning_tree;
    PreorderLinkage linkage;
    std::size_t min_cluster_size = 0;  // of `condensed`; 0 before anything is condensed
    PackedCondensedTree condensed;
    SelectionParams selected_with;
    ClusterSelection selection;

    std::size_t points() const { return spanning_tree.points(); }
    std::size_t bytes() const;
};

// The spanning tree and the pre-order single-linkage tree from the edges of a minimum
// spanning tree of the mutual-reachability graph over n points, in any order; extra edges
// that close cycles are ignored. The edges are released once sorted. Edges that do not
// connect the points throw InternalError. `context` is checked for interruption between
// the steps. `clock`, when given, is charged with the single-linkage tree.
Hierarchy link_hierarchy(std::vector<MstEdge> edges, std::size_t n,
                         const ExecutionContext& context = ExecutionContext(),
                         StageClock* clock = nullptr);

// The results that depend on the selection.
struct SelectionResults {
    std::vector<double> persistence;    // per cluster, in label order, hierarchy units
    std::vector<std::int32_t> labels;   // per point, -1 for noise
    std::vector<double> probabilities;  // per point, in [0, 1]; 0 for noise
};

// A selection on a hierarchy and everything derived from it, computed aside so that
// installing it cannot fail half-way.
struct HierarchySelection {
    std::size_t min_cluster_size = 0;
    // A condensed tree at min_cluster_size and its GLOSH outlier scores (per point, in
    // [0, 1]; they do not depend on the selection), when the hierarchy's was condensed at
    // another one.
    std::optional<PackedCondensedTree> condensed;
    std::optional<std::vector<double>> outlier_scores;
    SelectionParams params;
    ClusterSelection selection;
    SelectionResults results;
};

// The selection under `params` from the condensed tree at `min_cluster_size` (at least 2),
// condensing the pre-order tree again when the hierarchy holds another one; then
// persistence, labels and probabilities. One point, or no cluster at all, gives no
// persistence, label -1 and probability 0. The hierarchy is not changed. `context` is
// checked for interruption between the steps; `clock`, when given, is charged with each.
HierarchySelection select_hierarchy(const Hierarchy& hierarchy, std::size_t min_cluster_size,
                                    const SelectionParams& params,
                                    const ExecutionContext& context = ExecutionContext(),
                                    StageClock* clock = nullptr);

// Makes the condensed tree and the selection of `selected` the hierarchy's (the per-point
// results are the caller's to take).
void install_selection(Hierarchy& hierarchy, HierarchySelection& selected) noexcept;

}  // namespace corvane
