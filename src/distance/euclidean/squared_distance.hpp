#pragma once

#include <cstddef>
#include <limits>

namespace corvane {

// Marks a column count known only at run time in the kernels below; the trees
// instantiate their searches for small fixed counts so that the per-column loops unroll.
inline constexpr std::size_t DYNAMIC_DIMS = std::numeric_limits<std::size_t>::max();

// The one summation order of every Euclidean distance in corvane, for any column count:
// the squared terms t[j] go into four lanes, lane j % 4 taking columns j, j + 4, j + 8, ...
// as a running sum from +0.0 in column order, and the lanes are combined as
// (lane0 + lane1) + (lane2 + lane3). Up to three columns this is the plain left-to-right
// sum. The order fixes the rounding, and with exact ties in the data a last bit decides
// the hierarchy, so every route (trees, Prim, Boruvka, the blocked routes, prediction)
// measures through this function. The lanes are independent running sums, so the loop
// vectorises without reassociation.
//
// `difference(j)` gives the signed or absolute difference of column j; `settled(partial)`
// is asked after every 8 columns while columns remain, and once it holds the sum gives up:
// it returns false and `sum` holds the partial sum. A partial sum never exceeds the full
// one (every term is >= 0 and rounding is monotone), so a predicate that holds for every
// value above one it holds for settles the full sum too.
//
// Monotone rounding also makes the order a sound bound: when |difference(j)| <=
// |other(j)| for every column, the sum of the first never exceeds the sum of the second.
// The KD-tree's box distances rely on this to prune without a margin.
template <std::size_t Dims, class Difference, class Settled>
inline bool lane_sum_of_squares_unless(std::size_t dims, const Difference& difference,
                                       const Settled& settled, double& sum) {
    const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
    // Four named lanes rather than an array: the compiler keeps them in registers across
    // the early exit.
    double lane0 = 0.0;
    double lane1 = 0.0;
    double lane2 = 0.0;
    double lane3 = 0.0;
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const double t0 = difference(j);
        const double t1 = difference(j + 1);
        const double t2 = difference(j + 2);
        const double t3 = difference(j + 3);
        lane0 += t0 * t0;
        lane1 += t1 * t1;
        lane2 += t2 * t2;
        lane3 += t3 * t3;
        if ((j + 4) % 8 == 0 && j + 4 < n) {
            sum = (lane0 + lane1) + (lane2 + lane3);
            if (settled(sum)) return false;
        }
    }
    const auto add = [&](double& lane, std::size_t column) {
        const double t = difference(column);
        lane += t * t;
    };
    if (j < n) add(lane0, j);
    if (j + 1 < n) add(lane1, j + 1);
    if (j + 2 < n) add(lane2, j + 2);
    sum = (lane0 + lane1) + (lane2 + lane3);
    return true;
}

// The full sum in the one order.
template <std::size_t Dims = DYNAMIC_DIMS, class Difference>
inline double lane_sum_of_squares(std::size_t dims, const Difference& difference) {
    double sum = 0.0;
    lane_sum_of_squares_unless<Dims>(dims, difference, [](double) { return false; }, sum);
    return sum;
}

// Squared Euclidean distance between two contiguous rows of `dims` values (`Dims` when
// fixed) into `d_sq`, giving up once `settled(partial)` holds (see above).
template <std::size_t Dims, class Settled>
inline bool squared_distance_unless(const double* __restrict a, const double* __restrict b,
                                    std::size_t dims, const Settled& settled, double& d_sq) {
    return lane_sum_of_squares_unless<Dims>(
        dims, [a, b](std::size_t j) { return a[j] - b[j]; }, settled, d_sq);
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
