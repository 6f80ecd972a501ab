#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "common/metric.hpp"

namespace corvane {

// How far apart two weighted distance sums may lie and still count as equal: the
// rounding error of computing them, `relative` times the smaller sum plus `absolute`.
struct SumTolerance {
    double relative = 0.0;
    double absolute = 0.0;

    double of(double sum) const { return relative * sum + absolute; }
};

// The tolerance of the sums of a cluster whose weights add up to `total_weight`, over
// points of `columns` coordinates: each term carries the rounding of one distance, whose
// error is relative for the norms and for stored distances, and absolute (a few units in
// the last place of 1) for cosine distances, which are 1 minus a cosine.
SumTolerance sum_tolerance(const Metric& metric, std::size_t columns, double total_weight);

// The sums met by one cluster's medoid search and the tie rule that picks among them: the
// lowest position whose sum is within the tolerance of the smallest sum. Positions are
// in ascending point order, so the lowest position is the lowest point. A NaN sum (from
// distances that overflow) counts as infinite: after every number, tied with the rest.
class MedoidCandidates {
  public:
    void add(std::size_t position, double sum) { sums_.emplace_back(position, sum); }

    // The candidate picked by the tie rule; there must be at least one.
    std::size_t pick(const SumTolerance& tolerance) const;

  private:
    std::vector<std::pair<std::size_t, double>> sums_;
};

// What a route leaves of one cluster's medoid search: the sums it has measured, and the
// positions it could not rule out that still have to be measured one by one.
struct MedoidSearch {
    MedoidCandidates measured;
    std::vector<std::size_t> unresolved;
};

}  // namespace corvane
