#include "mst/mst_route.hpp"

#include <cstdint>

namespace corvane {

std::size_t boruvka_threshold(std::size_t d) {
    if (d <= 4) return 500;
    if (d <= 16) return 4000;
    if (d <= 64) return 8000;
    return 2000;
}

MstRoute choose_mst_route(const Metric& metric, std::size_t n, std::size_t d, double) {
    if (metric.kind == MetricKind::Precomputed) return MstRoute::PrimDense;
    // Without columns no tree can split and every distance is 0.
    if (d == 0) return MstRoute::NoColumns;
    if (metric.kind != MetricKind::Euclidean) return MstRoute::PrimDense;
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
            // Two tree-ordered copies of the rows, nodes, neighbour lists and
            // Boruvka's candidate tables.
            return times(n, plus(times(d, 16), plus(8 * k, 256)));
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
