#include "model/magnitude_scaling.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace corvane {
namespace {

// Largest |binary exponent| of the largest absolute value that needs no shift.
// Squares and dot products are safe up to 2^500 (their sums over many columns
// stay below 2^1023) and down to 2^-500 (differences do not underflow when
// squared). A general Minkowski exponent p raises differences to the p-th
// power, so the range shrinks to about 2^(960 / p).
int exponent_limit(const Metric& metric) {
    constexpr int limit = 500;
    if (metric.kind == MetricKind::Minkowski && std::isfinite(metric.p) && metric.p > 2.0) {
        return std::clamp(static_cast<int>(960.0 / metric.p), 1, limit);
    }
    return limit;
}

double largest_magnitude(const DataMatrix& matrix) {
    double largest = 0.0;
    for (const double value : matrix.values)
        largest = std::max(largest, std::fabs(value));
    return largest;
}

int shift_for_largest(double largest, const Metric& metric) {
    if (metric.kind == MetricKind::Precomputed) return 0;
    if (!(largest > 0.0) || !std::isfinite(largest)) return 0;
    const int exponent = std::ilogb(largest);
    return std::abs(exponent) <= exponent_limit(metric) ? 0 : -exponent;
}

}  // namespace

int magnitude_shift(const DataMatrix& matrix, const Metric& metric) {
    if (metric.kind == MetricKind::Precomputed) return 0;
    return shift_for_largest(largest_magnitude(matrix), metric);
}

bool is_magnitude_shift_of(const DataMatrix& shifted, const Metric& metric, int shift) {
    const double largest = largest_magnitude(shifted);
    // The largest value before the shift, exactly, if the shift lost nothing of it.
    const double unshifted = std::ldexp(largest, -shift);
    return std::ldexp(unshifted, shift) == largest && shift_for_largest(unshifted, metric) == shift;
}

int distance_shift(const Metric& metric, int data_shift) {
    return metric.kind == MetricKind::Cosine ? 0 : data_shift;
}

void apply_shift(DataMatrix& matrix, int shift) {
    if (shift == 0) return;
    for (double& value : matrix.values)
        value = std::ldexp(value, shift);
}

}  // namespace corvane
