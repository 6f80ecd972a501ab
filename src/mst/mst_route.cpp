#include "mst/mst_route.hpp"

#include <cmath>
#include <cstdint>

namespace corvane {

std::size_t boruvka_threshold(std::size_t d) {
    if (d <= 4) return 500;
    if (d <= 16) return 4000;
    if (d <= 64) return 8000;
    return 2000;
}

// Measured with benchmarks/metric_route_bench.cpp on clustered data (two threads): the
// general Minkowski kernel takes a power per column, so the trees pay almost at once;
// the Manhattan kernel is cheapest, and its boxes prune least as columns grow.
std::size_t metric_tree_threshold(const Metric& metric, std::size_t d) {
    if (metric.kind == MetricKind::Cosine) return d <= 4 ? 500 : 1000;
    const bool powers = metric.kind == MetricKind::Minkowski && metric.p != 1.0 &&
                        metric.p != 2.0 && !std::isinf(metric.p);
    if (powers) return 200;
    const bool chebyshev = metric.kind == MetricKind::Minkowski && std::isinf(metric.p);
    if (d <= 4) return 1000;
    if (chebyshev) return 2000;
    return d <= 16 ? 2000 : 8000;
}

MstRoute choose_mst_route(const Metric& metric, std::size_t n, std::size_t d, double) {
    if (metric.kind == MetricKind::Precomputed) return MstRoute::PrimDense;
    // Without columns no tree can split and every distance is 0.
    if (d == 0) return MstRoute::NoColumns;
    if (metric.kind != MetricKind::Euclidean) {
        return n > metric_tree_threshold(metric, d) ? MstRoute::MetricTrees : MstRoute::PrimDense;
    }
    if (d >= BLOCKED_MIN_COLUMNS) return MstRoute::BlockedBoruvka;
    if (n > boruvka_threshold(d)) return MstRoute::BoruvkaKdTree;
    return d <= 10 ? MstRoute::PrimKdTreeCore : MstRoute::PrimBallTreeCore;
}

std::size_t mst_working_bytes(MstRoute route, std::size_t n, std::size_t d, std::size_t k) {
    // Saturating arithmetic: an estimate that overflows is simply too large.
    const auto times = [](std::size_t a, std::size_t b) {
        return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b;
    };
    const auto plus = [](std::size_t a, std::size_t b) {
        return a > SIZE_MAX - b ? SIZE_MAX : a + b;
    };
    const std::size_t per_point = 8 * k + 128;  // core distances, Prim's working arrays
    switch (route) {
        case MstRoute::BoruvkaKdTree:
            // The tree borrows the rows it is built from. Per point: the tree's index, its
            // nodes and boxes (up to 0.4 nodes a point) and the build's scratch, the core
            // distances and neighbour lists (4 bytes a neighbour), then Boruvka's tables,
            // batch and union-find and the edges: 96 bytes per point measured beyond the
            // rows at 10^7 x 2 with k = 10; 10^8 points take about 12 more per point (more
            // nodes a point).
            return times(n, plus(times(d, 16), plus(4 * k, 64)));
        case MstRoute::MetricTrees:
            // As Boruvka, with the rows scaled to unit length and the original rows in tree
            // order besides (cosine).
            return times(n, plus(times(d, 32), plus(8 * k, 256)));
        case MstRoute::BlockedBoruvka:
            // The tree-ordered rows, the screen's packed copy (padded blocks), the
            // tree's scratch, neighbour lists and Boruvka's tables.
            return times(n, plus(times(d, 32), plus(8 * k, 320)));
        case MstRoute::PrimKdTreeCore:
        case MstRoute::PrimBallTreeCore:
            return times(n, plus(times(d, 16), per_point));
        case MstRoute::PrimDense:
        case MstRoute::NoColumns:
            return times(n, per_point);
    }
    return SIZE_MAX;
}

}  // namespace corvane
