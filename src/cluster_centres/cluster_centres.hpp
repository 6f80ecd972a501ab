#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "labels/points_by_cluster.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Centres of the clusters of a clustering of the rows of `data`, each point weighted
// (in a fitted model: by its membership probability).

// The medoid of a cluster without points.
inline constexpr std::size_t NO_MEDOID = std::numeric_limits<std::size_t>::max();

// Row k: the weighted mean of the rows of cluster k, sum of w_p x_p over sum of w_p, summed
// in ascending point order. A cluster whose weights add up to 0 takes the plain mean of
// its rows; a cluster without points is all NaN.
DataMatrix weighted_centroids(const DataMatrix& data, const PointsByCluster& clusters,
                              std::span<const double> weights);

// Entry k: the point m of cluster k that minimises
//   S(m) = sum over the other points j of the cluster of w_j d(m, j)
// under `metric`; under Precomputed d(m, j) is data(m, j), the stored row of m. Sums
// within their rounding error of each other (sum_tolerance) count as equal, and the
// lowest point among those equal to the smallest wins, so exact ties never depend on
// rounding. NO_MEDOID for a cluster without points.
//
// Routes, all exact: the norms rule out most points with convexity and triangle-inequality
// bounds (norm_medoid_search); cosine distances are 1 - u.v for unit vectors, so
// S(m) = W - u_m . U with U the weighted sum of the unit vectors (zero vectors are at
// distance 0 from everything and add nothing), one pass per cluster; under Precomputed,
// and for whatever the bounds leave, each S(m) is summed from its distances, 16 points
// per pass over the cluster (under Precomputed that is linear in the size of the matrix).
// Clusters, then the sums measured one by one, are spread over the threads of `context`,
// which is checked for interruption between steps; the result does not depend on the
// number of threads.
std::vector<std::size_t> exact_medoids(const DataMatrix& data, const Metric& metric,
                                       const PointsByCluster& clusters,
                                       std::span<const double> weights,
                                       const ExecutionContext& context = ExecutionContext());

// The same by measuring every pair: the reference the routes are tested against.
std::vector<std::size_t> medoids_by_brute_force(const DataMatrix& data, const Metric& metric,
                                                const PointsByCluster& clusters,
                                                std::span<const double> weights);

}  // namespace corvane
