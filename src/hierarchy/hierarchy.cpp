#include "hierarchy/hierarchy.hpp"

#include <string>
#include <utility>

#include "common/internal_error.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/persistence.hpp"
#include "labels/assign_labels.hpp"
#include "linkage/edge_order.hpp"
#include "linkage/single_linkage.hpp"
#include "membership/membership_probabilities.hpp"
#include "outlier/glosh.hpp"
#include "outlier/outlier_scores.hpp"

namespace corvane {

std::size_t Hierarchy::bytes() const {
    return spanning_tree.bytes() + linkage.bytes() + condensed.bytes() +
           selection.clusters.capacity() * sizeof(std::size_t);
}

Hierarchy link_hierarchy(std::vector<MstEdge> edges, std::size_t n, const ExecutionContext& context,
                         StageClock* clock) {
    Hierarchy hierarchy;
    {
        // The sorted edges take 24 bytes a point, the spanning tree 16: only the tree is
        // held while the linkage pass takes its own memory.
        const std::vector<MstEdge> sorted = sorted_edges(std::move(edges), context);
        context.check();
        hierarchy.spanning_tree = SpanningTree(sorted, n, context);
    }
    const LinkedRows rows = link_spanning_tree_rows(hierarchy.spanning_tree, context);
    if (n > 0 && rows.size() != n - 1) {
        fail_internal("hierarchy: the edges do not connect all " + std::to_string(n) + " points");
    }
    context.check();
    hierarchy.linkage = PreorderLinkage(rows, hierarchy.spanning_tree, context);
    hierarchy_lap(clock, &StageTimes::single_linkage);
    return hierarchy;
}

HierarchySelection select_hierarchy(const Hierarchy& hierarchy, std::size_t min_cluster_size,
                                    const SelectionParams& params, const ExecutionContext& context,
                                    StageClock* clock) {
    if (min_cluster_size < 2) fail_internal("hierarchy: min_cluster_size below 2");
    HierarchySelection selected;
    selected.min_cluster_size = min_cluster_size;
    selected.params = params;
    const std::size_t n = hierarchy.points();
    if (min_cluster_size != hierarchy.min_cluster_size) {
        selected.condensed = condense(hierarchy.linkage, min_cluster_size, context);
        hierarchy_lap(clock, &StageTimes::condensed_tree);
        context.check();
    }
    const PackedCondensedTree& tree =
        selected.condensed ? *selected.condensed : hierarchy.condensed;
    SelectionResults& results = selected.results;
    std::optional<PointLabels> label;
    std::optional<PointProbabilities> probability;
    std::vector<double> deepest;
    {
        // What is kept by cluster: the per-point results read each point's edge, after
        // the index is released.
        const CondensedIndex index = index_condensed_clusters(tree, context);
        if (index.empty()) {
            results.labels.assign(n, -1);
            results.probabilities.assign(n, 0.0);
            if (selected.condensed) selected.outlier_scores.emplace(n, 0.0);
            return selected;
        }
        selected.selection = select_clusters(tree, index, params, context);
        results.persistence = compute_persistence(index, selected.selection, context);
        label.emplace(index, selected.selection, params.epsilon, params.allow_single_cluster,
                      context);
        probability.emplace(index, selected.selection, context);
        if (selected.condensed) deepest = glosh_deepest(index, context);
    }
    hierarchy_lap(clock, &StageTimes::selection);
    context.check();
    results.labels = assign_labels(tree, *label, context);
    hierarchy_lap(clock, &StageTimes::labels);
    context.check();
    results.probabilities = membership_probabilities(tree, *probability, *label, context);
    hierarchy_lap(clock, &StageTimes::probabilities);
    if (selected.condensed) {
        context.check();
        selected.outlier_scores = outlier_scores(tree, deepest, context);
        hierarchy_lap(clock, &StageTimes::outlier_scores);
    }
    return selected;
}

void install_selection(Hierarchy& hierarchy, HierarchySelection& selected) noexcept {
    if (selected.condensed) hierarchy.condensed = std::move(*selected.condensed);
    hierarchy.min_cluster_size = selected.min_cluster_size;
    hierarchy.selected_with = selected.params;
    hierarchy.selection = std::move(selected.selection);
}

}  // namespace corvane
