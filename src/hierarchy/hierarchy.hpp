#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/mst_edge.hpp"
#include "common/params.hpp"
#include "common/stage_clock.hpp"
#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "linkage/spanning_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The parameters of the steps after condensing. `epsilon` is in the hierarchy's units.
struct SelectionParams {
    ClusterSelectionMethod method = ClusterSelectionMethod::Eom;
    bool allow_single_cluster = false;
    double epsilon = 0.0;
};

// The cluster hierarchy of a fit, each piece once, as its model keeps it:
// - the minimum spanning tree in merge order, from which one union-find pass rebuilds the
//   single-linkage tree (build_single_linkage);
// - the condensed tree of that single-linkage tree at `min_cluster_size`, its edges in
//   emission order;
// - the clusters selected from the condensed tree, and the parameters they were selected
//   with.
// Labels, membership probabilities, outlier scores and persistence are derived from it
// (derive_*). Distances (spanning-tree weights, lambdas as their reciprocals, epsilon)
// are in the units of the data the spanning tree was computed on.
//
// A fit builds it in one go (build_hierarchy, then select_hierarchy); re-selection
// restarts after condensing (select_hierarchy), or after the single-linkage tree for a
// new min_cluster_size (condense_hierarchy, then select_hierarchy). The steps after
// condensing read the condensed tree's index, which is not kept: index_condensed_tree
// builds it from `condensed` for as long as they run. Every step runs on the calling
// thread.
struct Hierarchy {
    SpanningTree spanning_tree;
    std::size_t min_cluster_size = 0;
    PackedCondensedTree condensed;
    SelectionParams selected_with;
    ClusterSelection selection;

    std::size_t points() const { return spanning_tree.points(); }
    std::size_t bytes() const;
};

// The spanning tree and the condensed tree from the edges of a minimum spanning tree of
// the mutual-reachability graph over n points, in any order; extra edges that close
// cycles are ignored. The edges are released once sorted. Edges that do not connect the
// points, or a min_cluster_size below 2, throw InternalError. `context` is checked for
// interruption between the steps. `clock`, when given, is charged with the
// single-linkage tree and the condensed tree.
Hierarchy build_hierarchy(std::vector<MstEdge> edges, std::size_t n, std::size_t min_cluster_size,
                          const ExecutionContext& context = ExecutionContext(),
                          StageClock* clock = nullptr);

// The condensed tree at `min_cluster_size` (at least 2), from the single-linkage tree
// rebuilt from the spanning tree; the selection is cleared.
void condense_hierarchy(Hierarchy& hierarchy, std::size_t min_cluster_size);

// The selection from the condensed tree, whose index is `index`.
void select_hierarchy(Hierarchy& hierarchy, const CondensedIndex& index,
                      const SelectionParams& selection);

// The results that depend on the selection.
struct SelectionResults {
    std::vector<double> persistence;    // per cluster, in label order, hierarchy units
    std::vector<std::int32_t> labels;   // per point, -1 for noise
    std::vector<double> probabilities;  // per point, in [0, 1]; 0 for noise
};

// Computed in that order from the condensed tree's index; `clock`, when given, is charged
// with each. One point, or no cluster at all, gives no persistence, label -1 and
// probability 0.
SelectionResults derive_selection_results(const Hierarchy& hierarchy, const CondensedIndex& index,
                                          StageClock* clock = nullptr);

// GLOSH outlier scores, per point in [0, 1], from the condensed tree's index: they do not
// depend on the selection.
std::vector<double> derive_outlier_scores(const CondensedIndex& index);

}  // namespace corvane
