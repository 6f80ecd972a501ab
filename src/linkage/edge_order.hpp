#pragma once

#include <span>
#include <vector>

#include "common/mst_edge.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// A copy of the edges sorted by (weight, min(a, b), max(a, b)). Weights
// compare as numbers (-0 equals +0); a NaN weight sorts after every number.
// Only identical edges can tie, so the result does not depend on the input
// order.
std::vector<MstEdge> sorted_edges(std::span<const MstEdge> edges,
                                  const ExecutionContext& context = ExecutionContext());

// The same, sorting the edges handed in: edges that arrive as a few sorted batches are
// merged without a copy besides the merge's buffer.
std::vector<MstEdge> sorted_edges(std::vector<MstEdge>&& edges,
                                  const ExecutionContext& context = ExecutionContext());

// Whether x comes before y in the order of sorted_edges.
bool merge_order_less(const MstEdge& x, const MstEdge& y);

}  // namespace corvane
