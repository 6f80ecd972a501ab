#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "condensed_tree/condensed_index.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The GLOSH score of a point that leaves its cluster at `lambda`, where `deepest` is the
// largest finite point lambda under that cluster: (deepest - lambda) / deepest in [0, 1];
// 0 when deepest is 0 or not finite.
inline double glosh_score(double deepest, double lambda) {
    if (!(std::isfinite(deepest) && deepest > 0.0)) return 0.0;
    return std::min(1.0, std::max(0.0, (deepest - lambda) / deepest));
}

// Per cluster (by id - n): the largest finite lambda at which a point leaves it or a
// cluster below it, 0.0 when none does; the `deepest` of the scores of its points.
std::vector<double> glosh_deepest(const CondensedIndex& index,
                                  const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
