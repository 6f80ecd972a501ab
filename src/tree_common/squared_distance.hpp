#pragma once

#include <cstddef>
#include <limits>

namespace corvane {

// Marks a column count known only at run time in the kernels below; the trees
// instantiate their searches for small fixed counts so that the per-column loops unroll.
inline constexpr std::size_t DYNAMIC_DIMS = std::numeric_limits<std::size_t>::max();

// Squared Euclidean distance between two contiguous rows of `dims` values (`Dims` when
// fixed), stopping early once it is known to reach `bound`: then the value returned is a
// partial sum that is itself >= bound. Without a bound the exact sum is returned.
//
// The terms are summed in four interleaved lanes, combined pairwise at the end, so the
// loop vectorises; the result may differ in the last bits from a left-to-right sum but is
// the same for the same two rows. A partial sum never exceeds the full one (every term is
// >= 0 and rounding is monotone), which makes the early stop exact: a partial sum at or
// above `bound` means the full sum is too. The check runs only while 8 or more columns
// remain, where skipping them pays for the extra comparison.
template <std::size_t Dims = DYNAMIC_DIMS>
inline double squared_distance(const double* __restrict a, const double* __restrict b,
                               std::size_t dims,
                               double bound = std::numeric_limits<double>::infinity()) {
    constexpr std::size_t LANES = 4;
    const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
    double lane[LANES] = {0.0, 0.0, 0.0, 0.0};
    const auto combine = [&lane] { return (lane[0] + lane[1]) + (lane[2] + lane[3]); };
    std::size_t j = 0;
    for (; j + LANES <= n; j += LANES) {
        for (std::size_t l = 0; l < LANES; ++l) {
            const double t = a[j + l] - b[j + l];
            lane[l] += t * t;
        }
        if (j + LANES + 8 <= n) {
            const double partial = combine();
            if (partial >= bound) return partial;
        }
    }
    for (std::size_t l = 0; j + l < n; ++l) {
        const double t = a[j + l] - b[j + l];
        lane[l] += t * t;
    }
    return combine();
}

}  // namespace corvane
