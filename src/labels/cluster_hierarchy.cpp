#include "labels/cluster_hierarchy.hpp"

#include "common/internal_error.hpp"
#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/persistence.hpp"
#include "labels/assign_labels.hpp"
#include "linkage/single_linkage.hpp"
#include "membership/membership_probabilities.hpp"
#include "outlier/outlier_scores.hpp"

namespace corvane {

HierarchyResult cluster_hierarchy(std::span<const MstEdge> edges, std::size_t n,
                                  std::size_t min_cluster_size, ClusterSelectionMethod method,
                                  bool allow_single_cluster, double cluster_selection_epsilon,
                                  const ExecutionContext& context, StageClock* clock) {
    if (min_cluster_size < 2) fail_internal("cluster_hierarchy: min_cluster_size below 2");
    CondensedTree condensed;
    {
        const SingleLinkageTree linkage = build_single_linkage(edges, n, context);
        if (n > 0 && linkage.rows.size() != n - 1) {
            fail_internal("cluster_hierarchy: the edges do not connect all " + std::to_string(n) +
                          " points");
        }
        hierarchy_lap(clock, &StageTimes::single_linkage);
        condensed = condense(linkage, n, min_cluster_size, context);
    }
    hierarchy_lap(clock, &StageTimes::condensed_tree);

    HierarchyResult result;
    const CondensedIndex index = index_condensed_tree(condensed, n, context);
    if (index.empty()) {
        result.labels.assign(n, -1);
        result.probabilities.assign(n, 0.0);
        result.outlier_scores.assign(n, 0.0);
        hierarchy_lap(clock, &StageTimes::selection);
        return result;
    }
    const ClusterSelection selection = select_clusters(
        condensed, index, method, allow_single_cluster, cluster_selection_epsilon, context);
    result.persistence = compute_persistence(condensed, index, selection, context);
    hierarchy_lap(clock, &StageTimes::selection);
    result.labels =
        assign_labels(index, selection, cluster_selection_epsilon, allow_single_cluster, context);
    hierarchy_lap(clock, &StageTimes::labels);
    result.probabilities = membership_probabilities(index, selection, result.labels, context);
    hierarchy_lap(clock, &StageTimes::probabilities);
    result.outlier_scores = outlier_scores(index, context);
    hierarchy_lap(clock, &StageTimes::outlier_scores);
    return result;
}

}  // namespace corvane
