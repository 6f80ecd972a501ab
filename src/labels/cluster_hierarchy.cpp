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
                                  bool allow_single_cluster, double cluster_selection_epsilon) {
    if (min_cluster_size < 2) fail_internal("cluster_hierarchy: min_cluster_size below 2");
    CondensedTree condensed;
    {
        const SingleLinkageTree linkage = build_single_linkage(edges, n);
        if (n > 0 && linkage.rows.size() != n - 1) {
            fail_internal("cluster_hierarchy: the edges do not connect all " + std::to_string(n) +
                          " points");
        }
        condensed = condense(linkage, n, min_cluster_size);
    }

    const ClusterSelection selection =
        select_clusters(condensed, n, method, allow_single_cluster, cluster_selection_epsilon);
    HierarchyResult result;
    result.labels =
        assign_labels(condensed, selection, n, cluster_selection_epsilon, allow_single_cluster);
    result.probabilities = membership_probabilities(condensed, selection, result.labels, n);
    result.outlier_scores = outlier_scores(condensed, n);
    result.persistence = compute_persistence(condensed, selection);
    return result;
}

}  // namespace corvane
