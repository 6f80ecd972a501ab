#pragma once

#include <cmath>
#include <cstddef>

#include "common/metric.hpp"

#include "ball_tree/ball_tree_bounds.hpp"
#include "distance/distance.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "search_space/cosine_space.hpp"
#include "search_space/lp_spaces.hpp"
#include "search_space/search_space.hpp"

// Every pairing of a tree and a search space that the fits use, for the explicit
// instantiations of the searches: the chord spaces over both trees, the Minkowski family
// over the KdTree.
#define CORVANE_FOR_EACH_TREE_SPACE(X)                          \
    X(KdTree, SquaredEuclideanSpace)                            \
    X(BallTree, SquaredEuclideanSpace)                          \
    X(KdTree, CosineSpace)                                      \
    X(BallTree, CosineSpace)                                    \
    X(KdTree, ManhattanSpace)                                   \
    X(KdTree, ChebyshevSpace)                                   \
    X(KdTree, MinkowskiSpace<metric_kernels::GeneralMinkowski>) \
    X(KdTree, MinkowskiSpace<metric_kernels::Euclidean>)

namespace corvane {

// Calls f with the search space of a Manhattan or Minkowski metric over `dims` columns,
// matching the kernel that visit_metric picks: p = 1 is Manhattan, p = infinity
// Chebyshev, p = 2 the Euclidean kernel in true units.
template <class F>
decltype(auto) visit_minkowski_space(const Metric& metric, std::size_t dims, F&& f) {
    if (metric.kind == MetricKind::Manhattan || metric.p == 1.0) return f(ManhattanSpace{});
    if (std::isinf(metric.p)) return f(ChebyshevSpace{});
    if (metric.p == 2.0) {
        return f(MinkowskiSpace<metric_kernels::Euclidean>({}, 2.0, dims));
    }
    return f(MinkowskiSpace<metric_kernels::GeneralMinkowski>({metric.p}, metric.p, dims));
}

}  // namespace corvane
