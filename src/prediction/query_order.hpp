#pragma once

#include <cstddef>
#include <vector>

#include "common/data_matrix.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The rows of `points` in Z-order (Morton order) over their bounding box: consecutive
// rows of the result are usually near each other, so tree searches run in this order
// find most of the nodes they need still in cache. Up to 64 columns take part, each
// quantised to 64 / columns bits; NaN and infinite coordinates count as the box's
// lower edge. Equal keys keep row order, so the result is fully determined. Checks
// `context` for interruption as it goes.
std::vector<std::size_t> z_order(const DataMatrix& points, const ExecutionContext& context);

}  // namespace corvane
