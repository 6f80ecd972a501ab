#pragma once

#include <cstddef>
#include <span>

#include "common/data_matrix.hpp"
#include "parallel/execution_context.hpp"
#include "training_index/nearest_candidate.hpp"

namespace corvane {

struct TrainingIndex;

// The nearest training point of every row of `points` (shifted like the training data)
// over an index that holds a BlockTree: the same point and reachability, bit for bit, as a
// scan of every training point (exhaustive_nearest). The rows are taken in `order` (a
// spatial order, so that consecutive rows lie near each other) in blocks of up to
// GramScreen::MAX_BLOCK_ROWS, each searched against the tree as a block: GramScreen
// decides most pairs and the exact distance the rest. Rows with a coordinate that is not
// finite have no candidate. Blocks are spread over the threads of `context`; every row's
// result depends only on the row and the model.
void blocked_nearest(const TrainingIndex& index, const DataMatrix& points,
                     std::span<const std::size_t> order, std::span<NearestCandidate> nearest,
                     const ExecutionContext& context);

}  // namespace corvane
