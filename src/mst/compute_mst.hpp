#pragma once

#include <cstddef>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "common/mst_edge.hpp"
#include "common/stage_clock.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Core distances and a minimum spanning tree of the mutual-reachability graph
// by the route that choose_mst_route picks. `min_samples` is the effective
// neighbour count (1 <= min_samples <= rows); any tree index lives only for
// the call; the stages take their threads and interruption checks from
// `context`. `clock`, when given, is charged with the core distances and then
// the tree. A route may lend the rows of `data` to its tree for the searches, so that they
// are held once; they are back in place, bit for bit, when the call returns, but lost
// when it throws.
MstResult compute_mst(DataMatrix& data, const Metric& metric, double alpha, std::size_t min_samples,
                      const ExecutionContext& context = ExecutionContext(),
                      StageClock* clock = nullptr);

}  // namespace corvane
