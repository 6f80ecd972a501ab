#pragma once

#include <cstddef>
#include <limits>

namespace corvane {

// Marks a column count known only at run time in the kernels below; the trees
// instantiate their searches for small fixed counts so that the per-column
// loops unroll completely.
inline constexpr std::size_t DYNAMIC_DIMS = std::numeric_limits<std::size_t>::max();

// Squared Euclidean distance between two contiguous rows of `dims` values
// (`Dims` when fixed). The terms are summed in four interleaved lanes that are
// combined at the end, so the loop vectorises; the result may differ in the last
// bits from a left-to-right sum, but it is the same for the same two rows.
template <std::size_t Dims = DYNAMIC_DIMS>
inline double squared_distance(const double* __restrict a, const double* __restrict b,
                               std::size_t dims) {
    const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        for (std::size_t l = 0; l < 4; ++l) {
            const double t = a[j + l] - b[j + l];
            lane[l] += t * t;
        }
    }
    for (std::size_t l = 0; j + l < n; ++l) {
        const double t = a[j + l] - b[j + l];
        lane[l] += t * t;
    }
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

}  // namespace corvane
