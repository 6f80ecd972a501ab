#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/hdbscan_error.hpp"
#include "labels/points_by_cluster.hpp"
#include "model/fitted_model.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Per-cluster summaries and flat cuts of a fitted model, computed on each call from its
// hierarchy and results; clusters in label order, distances in the units of the data.

// The number of selected clusters (labels 0 .. clusters - 1).
std::size_t cluster_count(const FittedModel& model);

// The exemplars of each cluster (cluster_exemplars): the most persistent points of every
// leaf of the condensed tree under it.
PointsByCluster exemplars(const FittedModel& model);

// The DBSCAN* labels at radius `cut_distance` on the model's mutual-reachability graph
// (dbscan_cut_labels): points joined by spanning-tree edges no longer than the cut share
// a part, parts of fewer than `min_cluster_size` points are noise. A NaN or negative cut
// gives InvalidCutDistance, a min_cluster_size below 1 InvalidCutMinClusterSize; a cut of
// +infinity is one part.
Expected<std::vector<std::int32_t>> dbscan_clustering(const FittedModel& model, double cut_distance,
                                                      std::int64_t min_cluster_size);

// Row k: the mean of the points of cluster k weighted by their membership probabilities
// (weighted_centroids). A Precomputed model has no coordinates: NoCoordinates.
Expected<DataMatrix> cluster_centroids(const FittedModel& model);

// Entry k: the point of cluster k with the smallest sum of distances to the other points
// of the cluster weighted by their membership probabilities (exact_medoids), under the
// model's metric (rows of the stored matrix under Precomputed); NO_MEDOID for a cluster
// without points. Runs on the threads of `context`, checked for interruption.
std::vector<std::size_t> cluster_medoids(const FittedModel& model,
                                         const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
