#include "hdbscan/fit_model.hpp"

#include <algorithm>
#include <utility>

#include "common/memory_guard.hpp"
#include "hdbscan/input_validation.hpp"
#include "model/magnitude_scaling.hpp"
#include "mst/compute_mst.hpp"
#include "mst/mst_route.hpp"

namespace corvane {

Expected<FittedModel> fit_model(const HdbscanParams& params, DataMatrix matrix,
                                const ExecutionContext& context, StageTimes* times) {
    if (auto error = validate_fit_input(params, matrix)) return std::unexpected(*error);
    // Refuse what cannot fit before any of it is allocated: the route's
    // working memory, then the hierarchy's.
    const std::size_t n = matrix.rows;
    const MstRoute route = choose_mst_route(params.metric, n, matrix.cols, params.alpha);
    const std::size_t k = std::min(params.effective_min_samples(), n);
    require_memory(
        std::max(mst_working_bytes(route, n, matrix.cols, k), HIERARCHY_BYTES_PER_POINT * n));
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
