#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

namespace corvane {

// The cheapest known edge leaving one component: `from` lies inside the component,
// `to` outside it, both given as tree positions. A weight of +infinity means that no
// edge is known yet.
struct BoruvkaCandidate {
    double weight_sq = std::numeric_limits<double>::infinity();
    std::size_t from = 0;
    std::size_t to = 0;
};

// Label of a tree node whose points do not all belong to one component.
inline constexpr std::size_t NO_COMPONENT = std::numeric_limits<std::size_t>::max();

// The larger of two squared core distances; a NaN operand is ignored.
inline double max_ignoring_nan(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

// Squared mutual reachability from the larger squared core distance of the two ends
// (`core_sq`) and their squared Euclidean distance. With alpha exactly 1 no root is
// taken and nothing is divided: max(core_sq, d_sq). Otherwise the distance is scaled in
// true units, (max(sqrt(core_sq), sqrt(d_sq) / alpha))². A NaN core term is ignored.
class MutualReachabilitySq {
  public:
    explicit MutualReachabilitySq(double alpha) : alpha_(alpha), unit_alpha_(alpha == 1.0) {}

    double operator()(double core_sq, double d_sq) const {
        if (unit_alpha_) return std::isnan(core_sq) || core_sq < d_sq ? d_sq : core_sq;
        const double scaled = std::sqrt(d_sq) / alpha_;
        const double core = std::sqrt(core_sq);
        const double larger = std::isnan(core) || core < scaled ? scaled : core;
        return larger * larger;
    }

  private:
    double alpha_;
    bool unit_alpha_;
};

}  // namespace corvane
