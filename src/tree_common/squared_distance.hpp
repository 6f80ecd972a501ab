#pragma once

#include <cstddef>
#include <limits>
#include <type_traits>
#include <utility>

namespace corvane {

// Marks a column count known only at run time in the kernels below; the trees
// instantiate their searches for small fixed counts so that the per-column loops unroll.
inline constexpr std::size_t DYNAMIC_DIMS = std::numeric_limits<std::size_t>::max();

// Calls f(std::integral_constant<std::size_t, dims>) when 1 <= dims <= Max, and
// f(std::integral_constant<std::size_t, DYNAMIC_DIMS>) otherwise: the column counts that
// a search instantiates its loops for. The fixed counts are reached through one table.
template <std::size_t Max, class F>
void with_fixed_dims(std::size_t dims, F&& f) {
    if constexpr (Max > 0) {
        if (dims >= 1 && dims <= Max) {
            [&]<std::size_t... D>(std::index_sequence<D...>) {
                using Call = void (*)(F&);
                static constexpr Call calls[] = {
                    [](F& g) { g(std::integral_constant<std::size_t, D + 1>{}); }...};
                calls[dims - 1](f);
            }(std::make_index_sequence<Max>{});
            return;
        }
    }
    f(std::integral_constant<std::size_t, DYNAMIC_DIMS>{});
}

// Squared Euclidean distance between two contiguous rows of `dims` values (`Dims` when
// fixed) into `d_sq`, giving up once `settled(partial)` holds for the sum so far: then it
// returns false and `d_sq` holds that partial sum. The check runs after every 8 columns
// while columns remain.
//
// The terms are summed in four interleaved lanes, combined pairwise at the end, so the
// loop vectorises; the result may differ in the last bits from a left-to-right sum but is
// the same for the same two rows. A partial sum never exceeds the full one (every term is
// >= 0 and rounding is monotone), so a predicate that holds for every value above one it
// holds for settles the full sum too.
template <std::size_t Dims, class Settled>
inline bool squared_distance_unless(const double* __restrict a, const double* __restrict b,
                                    std::size_t dims, const Settled& settled, double& d_sq) {
    const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
    // Four named lanes rather than an array: the compiler keeps them in registers across
    // the early exit.
    double lane0 = 0.0;
    double lane1 = 0.0;
    double lane2 = 0.0;
    double lane3 = 0.0;
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const double t0 = a[j] - b[j];
        const double t1 = a[j + 1] - b[j + 1];
        const double t2 = a[j + 2] - b[j + 2];
        const double t3 = a[j + 3] - b[j + 3];
        lane0 += t0 * t0;
        lane1 += t1 * t1;
        lane2 += t2 * t2;
        lane3 += t3 * t3;
        if ((j + 4) % 8 == 0 && j + 4 < n) {
            d_sq = (lane0 + lane1) + (lane2 + lane3);
            if (settled(d_sq)) return false;
        }
    }
    const auto add = [&](double& lane, std::size_t column) {
        const double t = a[column] - b[column];
        lane += t * t;
    };
    if (j < n) add(lane0, j);
    if (j + 1 < n) add(lane1, j + 1);
    if (j + 2 < n) add(lane2, j + 2);
    d_sq = (lane0 + lane1) + (lane2 + lane3);
    return true;
}

// The same sum, stopping once it reaches `bound`: a result below `bound` is exact, one at
// or above it may be a partial sum. Without a bound the exact sum is returned.
template <std::size_t Dims = DYNAMIC_DIMS>
inline double squared_distance(const double* __restrict a, const double* __restrict b,
                               std::size_t dims,
                               double bound = std::numeric_limits<double>::infinity()) {
    double d_sq = 0.0;
    squared_distance_unless<Dims>(
        a, b, dims, [bound](double partial) { return partial >= bound; }, d_sq);
    return d_sq;
}

}  // namespace corvane
