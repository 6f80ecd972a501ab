#include "hierarchy/hierarchy.hpp"

#include <string>
#include <utility>

#include "common/internal_error.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/persistence.hpp"
#include "labels/assign_labels.hpp"
#include "linkage/edge_order.hpp"
#include "linkage/single_linkage.hpp"
#include "membership/membership_probabilities.hpp"
#include "outlier/outlier_scores.hpp"

namespace corvane {
namespace {

// Takes the single-linkage tree over and releases it before the condensed tree is packed,
// so that the rows, the edge list and the packed edges are never held at once.
void condense_rows(Hierarchy& hierarchy, SingleLinkageTree linkage, std::size_t min_cluster_size) {
    const std::size_t n = hierarchy.points();
    if (min_cluster_size < 2) fail_internal("hierarchy: min_cluster_size below 2");
    if (n > 0 && linkage.rows.size() != n - 1) {
        fail_internal("hierarchy: the edges do not connect all " + std::to_string(n) + " points");
    }
    const CondensedTree condensed = condense(linkage, n, min_cluster_size);
    std::vector<LinkageRow>().swap(linkage.rows);
    hierarchy.min_cluster_size = min_cluster_size;
    hierarchy.condensed = PackedCondensedTree(condensed, n);
    hierarchy.selection = {};
}

}  // namespace

std::size_t Hierarchy::bytes() const {
    return spanning_tree.bytes() + condensed.bytes() +
           selection.clusters.capacity() * sizeof(std::size_t);
}

Hierarchy build_hierarchy(std::vector<MstEdge> edges, std::size_t n, std::size_t min_cluster_size,
                          const ExecutionContext& context, StageClock* clock) {
    Hierarchy hierarchy;
    std::vector<MstEdge> sorted = sorted_edges(edges, context);
    std::vector<MstEdge>().swap(edges);
    context.check();
    SingleLinkageTree linkage = link_sorted_edges(sorted, n, hierarchy.spanning_tree, context);
    std::vector<MstEdge>().swap(sorted);
    hierarchy_lap(clock, &StageTimes::single_linkage);
    context.check();
    condense_rows(hierarchy, std::move(linkage), min_cluster_size);
    hierarchy_lap(clock, &StageTimes::condensed_tree);
    return hierarchy;
}

void condense_hierarchy(Hierarchy& hierarchy, std::size_t min_cluster_size) {
    condense_rows(hierarchy, build_single_linkage(hierarchy.spanning_tree), min_cluster_size);
}

void select_hierarchy(Hierarchy& hierarchy, const CondensedIndex& index,
                      const SelectionParams& selection) {
    hierarchy.selected_with = selection;
    hierarchy.selection = select_clusters(hierarchy.condensed, index, selection.method,
                                          selection.allow_single_cluster, selection.epsilon);
}

SelectionResults derive_selection_results(const Hierarchy& hierarchy, const CondensedIndex& index,
                                          StageClock* clock) {
    SelectionResults results;
    if (index.empty()) {
        results.labels.assign(hierarchy.points(), -1);
        results.probabilities.assign(hierarchy.points(), 0.0);
        return results;
    }
    const SelectionParams& selection = hierarchy.selected_with;
    results.persistence = compute_persistence(hierarchy.condensed, index, hierarchy.selection);
    hierarchy_lap(clock, &StageTimes::selection);
    results.labels = assign_labels(index, hierarchy.selection, selection.epsilon,
                                   selection.allow_single_cluster);
    hierarchy_lap(clock, &StageTimes::labels);
    results.probabilities = membership_probabilities(index, hierarchy.selection, results.labels);
    hierarchy_lap(clock, &StageTimes::probabilities);
    return results;
}

std::vector<double> derive_outlier_scores(const CondensedIndex& index) {
    if (index.empty()) return std::vector<double>(index.n, 0.0);
    return outlier_scores(index);
}

}  // namespace corvane
