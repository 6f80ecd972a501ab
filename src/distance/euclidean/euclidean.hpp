#pragma once

#include <cmath>
#include <cstddef>

#include "distance/point_view.hpp"

namespace corvane {

[[noreturn]] void fail_euclidean_operands(PointView a, PointView b);

// Sum of squared coordinate differences over the length of `a`; `b` must have
// at least as many elements, and both points must be contiguous from two
// coordinates up (a strided point is refused, never read strided). The summation order is fixed
// because it decides the rounding, and with it tie-breaks downstream: below 8 coordinates strictly
// left to right; from 8 up four lanes, lane j taking coordinates 4m + j of every complete block of
// four, the n mod 4 leftovers added to lane 0 in order, combined as (s0 + s1) + (s2 + s3). The
// lanes are independent running sums, so the block loop vectorises without reassociation.
inline double squared_euclidean_distance(PointView a, PointView b) {
    const std::size_t n = a.size;
    if (b.size < n || (n >= 2 && (!a.contiguous() || !b.contiguous()))) {
        fail_euclidean_operands(a, b);
    }
    const double* __restrict x = a.data;
    const double* __restrict y = b.data;
    if (n < 8) {
        double total = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double diff = x[i] - y[i];
            total += diff * diff;
        }
        return total;
    }
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    const std::size_t blocked = n - n % 4;
    for (std::size_t i = 0; i < blocked; i += 4) {
        for (std::size_t j = 0; j < 4; ++j) {
            const double diff = x[i + j] - y[i + j];
            lane[j] += diff * diff;
        }
    }
    for (std::size_t i = blocked; i < n; ++i) {
        const double diff = x[i] - y[i];
        lane[0] += diff * diff;
    }
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

inline double euclidean_distance(PointView a, PointView b) {
    return std::sqrt(squared_euclidean_distance(a, b));
}

}  // namespace corvane
