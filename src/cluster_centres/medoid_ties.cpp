#include "cluster_centres/medoid_ties.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/internal_error.hpp"

namespace corvane {

SumTolerance sum_tolerance(const Metric& metric, std::size_t columns, double total_weight) {
    constexpr double unit = std::numeric_limits<double>::epsilon();
    const double per_term = 8.0 * (static_cast<double>(columns) + 8.0) * unit;
    switch (metric.kind) {
        case MetricKind::Precomputed:
            return {64.0 * unit, 0.0};
        case MetricKind::Cosine:
            return {64.0 * unit, per_term * total_weight};
        default:
            return {per_term, 0.0};
    }
}

std::size_t MedoidCandidates::pick(const SumTolerance& tolerance) const {
    if (sums_.empty()) fail_internal("medoid search: no candidate");
    // A NaN sum (distances that overflow and cancel) counts as infinite.
    const auto ranked = [](double sum) {
        return std::isnan(sum) ? std::numeric_limits<double>::infinity() : sum;
    };
    double smallest = std::numeric_limits<double>::infinity();
    for (const auto& [position, sum] : sums_)
        smallest = std::min(smallest, ranked(sum));
    // An infinite smallest sum has a NaN limit under a zero relative tolerance: the sums
    // equal to it are within it all the same.
    const double limit = smallest + tolerance.of(smallest);
    std::size_t chosen = std::numeric_limits<std::size_t>::max();
    for (const auto& [position, sum] : sums_) {
        if (ranked(sum) == smallest || ranked(sum) <= limit) chosen = std::min(chosen, position);
    }
    return chosen;
}

}  // namespace corvane
