#include "mst/mst_route.hpp"

namespace corvane {

std::size_t boruvka_threshold(std::size_t d) {
    if (d <= 4) return 500;
    if (d <= 16) return 4000;
    if (d <= 64) return 8000;
    return 2000;
}

MstRoute choose_mst_route(const Metric& metric, std::size_t n, std::size_t d, double alpha) {
    if (metric.kind == MetricKind::Precomputed) return MstRoute::PrimDense;
    // Without columns no tree can split and every distance is 0.
    if (d == 0) return MstRoute::NoColumns;
    if (metric.kind != MetricKind::Euclidean) return MstRoute::PrimDense;
    if (n > boruvka_threshold(d)) {
        return d >= 17 ? MstRoute::BoruvkaBallTree : MstRoute::BoruvkaKdTree;
    }
    if (d >= 17 && alpha == 1.0) return MstRoute::PrimGram;
    if (d <= 10) return MstRoute::PrimKdTreeCore;
    if (d <= 512) return MstRoute::PrimBallTreeCore;
    return MstRoute::PrimBruteCore;
}

}  // namespace corvane
