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

PointLabels::PointLabels(const CondensedIndex& index, const ClusterSelection& selection,
                         double cluster_selection_epsilon, bool allow_single_cluster,
                         const ExecutionContext& context)
    : n_(index.n), root_(index.root()) {
    const std::size_t n = n_;
    if (selection.clusters.size() >
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        fail_internal("assign_labels: too many clusters for 32-bit labels");
    }
    label_of_.assign(index.end() - n, -1);
    for_each_checked(context, 0, selection.clusters.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        if (c < n) fail_internal("assign_labels: selected id " + std::to_string(c) + " is a point");
        check_index(c, index.end(), "assign_labels: selected cluster");
        label_of_[c - n] = static_cast<std::int32_t>(k);
    });
    // Parents have smaller ids, so one ascending pass settles every cluster.
    top_.assign(index.end() - n, root_);
    for_each_checked(context, root_ + 1, index.end(), [&](std::size_t c) {
        top_[c - n] = label_of_[c - n] >= 0 ? c : top_[index.parent[c] - n];
    });

    single_root_ =
        allow_single_cluster && selection.clusters.size() == 1 && selection.clusters[0] == root_;
    if (!single_root_) return;
    // Any epsilon other than 0 sets the threshold, a negative one (every point) and NaN
    // (no point) included; otherwise the largest lambda directly under the root.
    threshold_ = cluster_selection_epsilon != 0.0 ? 1.0 / cluster_selection_epsilon
                                                  : index.last_departure[root_ - n];
}

std::vector<std::int32_t> assign_labels(const CondensedIndex& index,
                                        const ClusterSelection& selection,
                                        double cluster_selection_epsilon, bool allow_single_cluster,
                                        const ExecutionContext& context) {
    std::vector<std::int32_t> labels(index.n, -1);
    if (selection.clusters.empty()) return labels;
    const PointLabels label(index, selection, cluster_selection_epsilon, allow_single_cluster,
                            context);
    for_each_index(context, index.n,
                   [&](std::size_t p) { labels[p] = label(index.parent[p], index.lambda[p]); });
    return labels;
}

std::vector<std::int32_t> assign_labels(const PackedCondensedTree& tree, const PointLabels& label,
                                        const ExecutionContext& context) {
    std::vector<std::int32_t> labels(tree.points(), -1);
    for_each_point_edge(tree, context, [&](std::size_t point, std::size_t parent, double lambda) {
        labels[point] = label(parent, lambda);
    });
    return labels;
}

}  // namespace corvane
