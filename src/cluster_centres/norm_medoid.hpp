#pragma once

#include <cstddef>
#include <span>

#include "cluster_centres/medoid_ties.hpp"
#include "common/metric.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The medoid search of one cluster under a metric induced by a norm (Euclidean,
// Manhattan, Minkowski with any p >= 1, Chebyshev), ruling out most points without
// measuring their sums.
//
// `rows` holds the cluster's points, `columns` coordinates each, in ascending point
// order, and `weights` one weight each. The sum of position m is
// S(m) = sum over j != m of weights[j] * d(m, j), added up as measure_sums does. The
// result holds the sums measured and the positions left unresolved; together they contain
// every position whose sum is within `tolerance` of the smallest, so that
// MedoidCandidates::pick over all of them gives the medoid.
//
// How: S is convex over the whole space (a weighted sum of norms), so measuring it at one
// point x, together with a subgradient g there, bounds it everywhere from below twice over:
//   S(y) >= S(x) + g . (y - x)          (the tangent plane), and
//   S(y) >= W d(x, y) - S(x)            (the triangle inequality, W the total weight).
// The search measures S at the point nearest the weighted centroid, then always at the
// point with the smallest bound so far (a cutting-plane method on the cluster's points),
// and drops every point whose bound exceeds the best sum by more than the tolerance. Each
// bound is first lowered by its own rounding error, so a dropped point can never be the
// medoid. Points equal to a measured one share its sum and are settled with it, so a
// cluster of one point repeated costs one pass. Each step is one pass over the cluster; in
// a few dimensions some tens of steps settle a cluster of any size. When steps stop paying
// (fewer than a handful of points dropped per step for several steps, as on data spread
// in many dimensions, where every point is about as central as any other), the points
// left are returned unresolved: measuring them one by one is cheaper. `context` is checked
// for interruption at every step.
MedoidSearch norm_medoid_search(std::span<const double> rows, std::size_t columns,
                                std::span<const double> weights, const Metric& metric,
                                const SumTolerance& tolerance,
                                const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
