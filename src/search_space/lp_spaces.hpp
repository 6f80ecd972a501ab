#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "distance/distance.hpp"
#include "search_space/search_space.hpp"

namespace corvane {

// The Minkowski family over a KdTree: search units are the metric's distance, bounds
// accumulate the box gaps in the metric. A box gap never exceeds the computed |x - y| of
// any row in the box, since subtraction rounds monotonically (tree_contract.hpp).

// Shared by the Lp spaces: a tree row as query, every distance through the metric's
// kernel. MinkowskiSpace replaces distance() and pair_unless() with screened versions.
template <class Kernel>
struct KernelSpace : RowQueries {
    using Reachability = PlainReachability;

    static double core_units(double core) { return core; }
    static double to_distance(double units) { return units; }
    static Reachability reachability(double alpha) { return PlainReachability(alpha); }

    Kernel kernel;

    double exact(const double* a, const double* b, std::size_t dims) const {
        return kernel(PointView(a, dims), PointView(b, dims));
    }

    template <std::size_t Dims>
    double distance(const double* row, std::size_t, std::size_t dims, const Query& query,
                    const Limit&) const {
        return exact(query.point, row, dims);
    }

    template <std::size_t Dims, class Settled>
    bool pair_unless(const double* a, const double* b, std::size_t, std::size_t, std::size_t dims,
                     const Settled&, double& d) const {
        d = exact(a, b, dims);
        return true;
    }

    template <class Tree>
    double pair(const Tree& tree, std::size_t i, std::size_t j) const {
        return exact(tree.row(i), tree.row(j), tree.dims);
    }
};

// Manhattan: the kernel sums |x - y| in index order, and the box sum in the same order
// adds terms that are no larger, each addition rounding monotonically: the bound needs no
// margin, and a limit is the distance itself.
struct ManhattanSpace : KernelSpace<metric_kernels::Manhattan> {
    static constexpr bool chord = false;
    static constexpr bool plain_limits = true;

    static double accumulate(double total, double gap) { return total + gap; }
    static Limit limit(double units) { return {units, units}; }
    static double lower(double bound) { return bound; }
};

// Chebyshev: the largest gap is no larger than the largest |x - y|, exactly.
struct ChebyshevSpace : KernelSpace<metric_kernels::Chebyshev> {
    static constexpr bool chord = false;
    static constexpr bool plain_limits = true;

    static double accumulate(double total, double gap) { return gap > total ? gap : total; }
    static Limit limit(double units) { return {units, units}; }
    static double lower(double bound) { return bound; }
};

// Minkowski with 1 < p < infinity: `Kernel` is GeneralMinkowski, or Euclidean for p = 2,
// the kernels compute_distance takes. Bounds are in power units, sums of |gap|^p, so
// that a node costs no root. A power is taken by multiplication when p is a small integer
// and with std::pow otherwise; neither is exactly the kernel's std::pow, nor is pow exact,
// so the conversions keep margins (u the unit roundoff, d the column count):
//
// - Every power term is within (p + 1) u of the true power of the computed |gap| (pow is
//   accurate to within an ulp, a product of p factors within (p - 1) u), and a sum of d
//   terms within d u more. That holds for any order and grouping of the additions, the
//   terms being non-negative: the power sum adds from column 0, the Euclidean kernel of
//   p = 2 in its four lanes (squared_distance.hpp). The kernel's root adds one more u
//   relative to the result. So a bound S and the kernel's sum K over the same rows
//   satisfy S <= K (1 + (2d + 2p + 4) u), and the kernel's distance is K^(1/p) within 2u.
// - limit(D) = D^p (1 + m) with m = 16 (d + p + 8) u: a bound above it leaves K above
//   D^p (1 + m / 2), whose root exceeds D by more than m / (2p) > 4u relative.
// - lower(S) = S^(1/p) (1 - m') with m' = 8 ((2d + 2p + 8) / p + 2) u covers the same
//   errors the other way.
// - Below 2^-990 (power terms of subnormal size, whose relative errors grow) power units
//   carry an absolute slack of 2^-980: limits add it, and a smaller bound lowers to 0.
// The fit sends Minkowski data to this space only when no power sum can overflow.
template <class Kernel>
struct MinkowskiSpace : KernelSpace<Kernel> {
    using Base = KernelSpace<Kernel>;
    using typename Base::Query;
    static constexpr bool chord = false;
    static constexpr bool plain_limits = false;
    static constexpr double TINY = 0x1p-990;
    static constexpr double SLACK = 0x1p-980;

    MinkowskiSpace(Kernel kernel_, double exponent, std::size_t dims)
        : Base{{}, kernel_},
          p(exponent),
          inverse_p(1.0 / exponent),
          integer_p(exponent == std::floor(exponent) && exponent <= 16.0
                        ? static_cast<unsigned>(exponent)
                        : 0),
          limit_margin(16.0 * (static_cast<double>(dims) + exponent + 8.0) * EPSILON_HALF),
          lower_margin(8.0 *
                       ((2.0 * static_cast<double>(dims) + 2.0 * exponent + 8.0) / exponent + 2.0) *
                       EPSILON_HALF) {}

    double p;
    double inverse_p;
    unsigned integer_p;  // p when a small integer, else 0
    double limit_margin;
    double lower_margin;

    double power(double gap) const {
        if (integer_p == 0) return std::pow(gap, p);
        double result = gap;
        for (unsigned i = 1; i < integer_p; ++i)
            result *= gap;
        return result;
    }

    double accumulate(double total, double gap) const { return total + power(gap); }

    Limit limit(double units) const { return {units, power(units) * (1.0 + limit_margin) + SLACK}; }

    double lower(double bound) const {
        if (!(bound >= TINY)) return 0.0;
        return std::pow(bound, inverse_p) * (1.0 - lower_margin);
    }

    // Sum of the powers of |a - b|, in power units.
    double power_sum(const double* a, const double* b, std::size_t dims) const {
        double sum = 0.0;
        for (std::size_t j = 0; j < dims; ++j)
            sum += power(std::fabs(a[j] - b[j]));
        return sum;
    }

    // With integer powers the power sum costs a fraction of the kernel's, so it screens
    // rows first; with std::pow it would cost as much.
    template <std::size_t Dims>
    double distance(const double* row, std::size_t, std::size_t dims, const Query& query,
                    const Limit& limit) const {
        if (integer_p != 0 && limit.bound < INF &&
            power_sum(query.point, row, dims) >= limit.bound) {
            return limit.units;
        }
        return this->exact(query.point, row, dims);
    }

    template <std::size_t Dims, class Settled>
    bool pair_unless(const double* a, const double* b, std::size_t, std::size_t, std::size_t dims,
                     const Settled& settled, double& d) const {
        if (integer_p != 0) {
            const double floor = lower(power_sum(a, b, dims));
            if (settled(floor)) {
                d = floor;
                return false;
            }
        }
        d = this->exact(a, b, dims);
        return true;
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();
    static constexpr double EPSILON_HALF = std::numeric_limits<double>::epsilon() / 2.0;
};

}  // namespace corvane
