#include "labels/assign_labels.hpp"

#include <limits>

#include "common/internal_error.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

std::vector<std::int32_t> assign_labels(const CondensedTree& tree,
                                        const ClusterSelection& selection, std::size_t n,
                                        double cluster_selection_epsilon,
                                        bool allow_single_cluster) {
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, n));
    if (index.empty()) return std::vector<std::int32_t>(n, -1);
    return assign_labels(index, selection, cluster_selection_epsilon, allow_single_cluster);
}

std::vector<std::int32_t> assign_labels(const CondensedIndex& index,
                                        const ClusterSelection& selection,
                                        double cluster_selection_epsilon, bool allow_single_cluster,
                                        const ExecutionContext& context) {
    const std::size_t n = index.n;
    std::vector<std::int32_t> labels(n, -1);
    if (selection.clusters.empty()) return labels;
    if (selection.clusters.size() >
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        fail_internal("assign_labels: too many clusters for 32-bit labels");
    }

    // top[c - n]: the selected cluster at or above cluster c, or the root when
    // there is none. Parents have smaller ids, so one ascending pass settles
    // every cluster.
    const std::size_t root = index.root();
    std::vector<std::int32_t> label_of(index.end() - n, -1);
    for_each_checked(context, 0, selection.clusters.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        if (c < n) fail_internal("assign_labels: selected id " + std::to_string(c) + " is a point");
        check_index(c, index.end(), "assign_labels: selected cluster");
        label_of[c - n] = static_cast<std::int32_t>(k);
    });
    std::vector<std::size_t> top(index.end() - n, root);
    for_each_checked(context, root + 1, index.end(), [&](std::size_t c) {
        top[c - n] = label_of[c - n] >= 0 ? c : top[index.parent[c] - n];
    });

    const bool single_root =
        allow_single_cluster && selection.clusters.size() == 1 && selection.clusters[0] == root;
    double threshold = 0.0;
    if (single_root) {
        // Any epsilon other than 0 sets the threshold, a negative one (every
        // point) and NaN (no point) included.
        if (cluster_selection_epsilon != 0.0) {
            threshold = 1.0 / cluster_selection_epsilon;
        } else {
            for_each_checked(context, 0, index.end(), [&](std::size_t node) {
                if (index.parent[node] == root && index.lambda[node] > threshold) {
                    threshold = index.lambda[node];
                }
            });
        }
    }

    for_each_index(context, n, [&](std::size_t p) {
        const std::size_t r = top[index.parent[p] - n];
        if (r == root) {
            if (single_root && threshold <= index.lambda[p]) labels[p] = label_of[root - n];
        } else {
            labels[p] = label_of[r - n];
        }
    });
    return labels;
}

}  // namespace corvane
