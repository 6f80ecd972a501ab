#pragma once

#include <cstddef>

#include "common/data_matrix.hpp"
#include "common/hdbscan_error.hpp"
#include "common/params.hpp"
#include "common/stage_clock.hpp"
#include "model/fitted_model.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The whole fit: validation, minimum spanning tree, hierarchy, per-point
// results. Takes the matrix by value (the caller's private copy); it becomes
// the model's training data. Validation failures are returned as values;
// broken invariants throw InternalError and allocation failures
// std::bad_alloc, and no partial model is ever returned. The stages take
// their thread budget from `context` and stop with Interrupted when it says
// so. `times`, when given, receives the wall-clock time of the stages.
// The most memory a fit of n x d rows under `params` takes beyond the rows it is handed (a
// generous estimate); fit_model refuses with std::bad_alloc, before allocating, a fit
// that needs more than the memory available.
std::size_t fit_working_bytes(const HdbscanParams& params, std::size_t n, std::size_t d);

Expected<FittedModel> fit_model(const HdbscanParams& params, DataMatrix matrix,
                                const ExecutionContext& context, StageTimes* times = nullptr);

}  // namespace corvane
