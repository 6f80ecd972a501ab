#pragma once

#include <cmath>

namespace corvane {

// The mutual-reachability weight max(c(x), c(y), d / alpha) as every spanning-tree route
// takes it, and the maximum it is taken with.

// Maximum in which a NaN operand is ignored (the other operand is taken).
// Equal operands give `a`, so the result is always one of the operands as given. A NaN
// `b` fails the comparison and leaves `a`.
inline double max_ignoring_nan(double a, double b) {
    if (std::isnan(a)) return b;
    return a < b ? b : a;
}

// Mutual-reachability distance max(c(x), c(y), d / alpha), taken in two steps:
// max(core_outer, max(core_inner, d / alpha)). Which point is outer is fixed by
// the caller (the lower-numbered point, or the tree vertex) so that every route
// rounds and picks operands alike. No division when alpha is exactly 1.
inline double mutual_reachability(double core_outer, double core_inner, double distance,
                                  double alpha) {
    const double scaled = alpha == 1.0 ? distance : distance / alpha;
    return max_ignoring_nan(core_outer, max_ignoring_nan(core_inner, scaled));
}

// The squared form for Euclidean data with alpha = 1: max(c(x)^2, c(y)^2, d^2).
// Squaring keeps the order of weights, so one square root per emitted edge
// gives the true weight.
inline double mutual_reachability_sq(double core_sq_a, double core_sq_b, double distance_sq) {
    return max_ignoring_nan(max_ignoring_nan(core_sq_a, core_sq_b), distance_sq);
}

// Squared mutual reachability from the larger squared core distance of the two ends
// (`core_sq`) and their squared Euclidean distance. With alpha exactly 1 no root is
// taken and nothing is divided: max(core_sq, d_sq). Otherwise the distance is scaled in
// true units, (max(sqrt(core_sq), sqrt(d_sq) / alpha))². A NaN core term is ignored.
class MutualReachabilitySq {
  public:
    explicit MutualReachabilitySq(double alpha) : alpha_(alpha), unit_alpha_(alpha == 1.0) {}

    double operator()(double core_sq, double d_sq) const {
        if (unit_alpha_) return max_ignoring_nan(core_sq, d_sq);
        const double larger = max_ignoring_nan(std::sqrt(core_sq), std::sqrt(d_sq) / alpha_);
        return larger * larger;
    }

    // Whether the weight is the plain max(core_sq, d_sq), the maximum of the core term and
    // a term of the distance alone: then raising the core term to at most the weight
    // leaves the weight as it is, bit for bit. Not so with a root taken and squared again.
    bool plain_max() const { return unit_alpha_; }

  private:
    double alpha_;
    bool unit_alpha_;
};

}  // namespace corvane
