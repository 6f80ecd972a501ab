#include "model_exports/cluster_exports.hpp"

#include <cmath>

#include "cluster_centres/cluster_centres.hpp"
#include "dbscan_cut/dbscan_cut.hpp"
#include "exemplars/cluster_exemplars.hpp"

namespace corvane {

std::size_t cluster_count(const FittedModel& model) {
    return model.hierarchy.selection.clusters.size();
}

PointsByCluster exemplars(const FittedModel& model) {
    return cluster_exemplars(index_condensed_tree(model.hierarchy.condensed), model.labels,
                             cluster_count(model));
}

Expected<std::vector<std::int32_t>> dbscan_clustering(const FittedModel& model, double cut_distance,
                                                      std::int64_t min_cluster_size) {
    if (std::isnan(cut_distance) || cut_distance < 0.0) {
        return std::unexpected(HdbscanError::invalid_cut_distance(cut_distance));
    }
    if (min_cluster_size < 1) {
        return std::unexpected(
            HdbscanError::invalid_cut_min_cluster_size(static_cast<double>(min_cluster_size)));
    }
    // Merge order sorts the edges by weight, so those at or below the cut come first. They
    // are compared in the units of the data, as single_linkage_matrix reports them.
    const SpanningTree& tree = model.hierarchy.spanning_tree;
    const int units = model.distance_units();
    std::size_t low = 0;
    std::size_t high = tree.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (std::ldexp(tree.edge(middle).weight, -units) <= cut_distance) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return dbscan_cut_labels(tree, low, static_cast<std::size_t>(min_cluster_size));
}

Expected<DataMatrix> cluster_centroids(const FittedModel& model) {
    if (model.metric.kind == MetricKind::Precomputed) {
        return std::unexpected(HdbscanError::no_coordinates());
    }
    DataMatrix centroids =
        weighted_centroids(model.training_data, group_by_label(model.labels, cluster_count(model)),
                           model.probabilities);
    for (double& value : centroids.values)
        value = std::ldexp(value, -model.magnitude_shift);
    return centroids;
}

std::vector<std::size_t> cluster_medoids(const FittedModel& model,
                                         const ExecutionContext& context) {
    return exact_medoids(model.training_data, model.metric,
                         group_by_label(model.labels, cluster_count(model)), model.probabilities,
                         context);
}

}  // namespace corvane
