#include "labels/assign_labels.hpp"

#include <limits>

#include "common/internal_error.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "union_find/union_find.hpp"

namespace corvane {

std::vector<std::int32_t> assign_labels(const CondensedTree& tree,
                                        const ClusterSelection& selection, std::size_t n,
                                        double cluster_selection_epsilon,
                                        bool allow_single_cluster) {
    std::vector<std::int32_t> labels(n, -1);
    const CondensedIndex index = index_condensed_tree(tree, n);
    if (index.empty() || selection.clusters.empty()) return labels;
    if (selection.clusters.size() >
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        fail_internal("assign_labels: too many clusters for 32-bit labels");
    }

    const std::size_t root = index.root();
    std::vector<std::int32_t> label_of(index.end(), -1);
    for (std::size_t k = 0; k < selection.clusters.size(); ++k) {
        const std::size_t c = selection.clusters[k];
        if (c < n) fail_internal("assign_labels: selected id " + std::to_string(c) + " is a point");
        check_index(c, index.end(), "assign_labels: selected cluster");
        label_of[c] = static_cast<std::int32_t>(k);
    }

    // Every node is a child once, and before it is a parent, so each union
    // joins a set with a singleton and the parent's representative survives:
    // a set is named by its topmost cluster.
    UnionFind sets(index.end());
    for (const CondensedEdge& edge : tree.edges) {
        if (edge.child < n || label_of[edge.child] < 0) sets.unite(edge.parent, edge.child);
    }

    const bool single_root =
        allow_single_cluster && selection.clusters.size() == 1 && selection.clusters[0] == root;
    double threshold = 0.0;
    if (single_root) {
        // Any epsilon other than 0 sets the threshold, a negative one (every
        // point) and NaN (no point) included.
        if (cluster_selection_epsilon != 0.0) {
            threshold = 1.0 / cluster_selection_epsilon;
        } else {
            for (const CondensedEdge& edge : tree.edges) {
                if (edge.parent == root && edge.lambda > threshold) threshold = edge.lambda;
            }
        }
    }

    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t r = sets.find(p);
        if (r == root) {
            if (single_root && threshold <= index.lambda[p]) labels[p] = label_of[root];
        } else {
            labels[p] = label_of[r];
        }
    }
    return labels;
}

}  // namespace corvane
