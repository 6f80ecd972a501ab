#include "hdbscan/fit_model.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "common/memory_guard.hpp"
#include "hdbscan/input_validation.hpp"
#include "model/magnitude_scaling.hpp"
#include "mst/compute_mst.hpp"
#include "mst/mst_route.hpp"

namespace corvane {

std::size_t fit_working_bytes(const HdbscanParams& params, std::size_t n, std::size_t d) {
    // The route's working memory is released before the hierarchy is built.
    const MstRoute route = choose_mst_route(params.metric, n, d, params.alpha);
    const std::size_t k = std::min(params.effective_min_samples(), n);
    const std::size_t hierarchy =
        n > SIZE_MAX / HIERARCHY_BYTES_PER_POINT ? SIZE_MAX : HIERARCHY_BYTES_PER_POINT * n;
    return std::max(mst_working_bytes(route, n, d, k), hierarchy);
}

Expected<FittedModel> fit_model(const HdbscanParams& params, DataMatrix matrix,
                                const ExecutionContext& context, StageTimes* times) {
    if (auto error = validate_fit_input(params, matrix)) return std::unexpected(*error);
    // Refuse what cannot fit before any of it is allocated.
    require_memory(fit_working_bytes(params, matrix.rows, matrix.cols));
    context.check();

    // Extreme magnitudes are brought near 1 by an exact power of two: the model works
    // in the shifted units.
    const int shift = magnitude_shift(matrix, params.metric);
    apply_shift(matrix, shift);
    context.check();

    StageClock clock(times);
    MstResult mst = compute_mst(matrix, params.metric, params.alpha, params.effective_min_samples(),
                                context, &clock);
    return assemble_model(params, std::move(matrix), shift, std::move(mst), context, &clock);
}

}  // namespace corvane
