#include "hdbscan/fit_model.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/memory_guard.hpp"
#include "hdbscan/input_validation.hpp"
#include "hdbscan/magnitude_scaling.hpp"
#include "labels/cluster_hierarchy.hpp"
#include "mst/compute_mst.hpp"
#include "mst/mst_route.hpp"

namespace corvane {

Expected<FittedModel> fit_model(const HdbscanParams& params, DataMatrix matrix,
                                const ExecutionContext& context, StageTimes* times) {
    if (auto error = validate_fit_input(params, matrix)) return std::unexpected(*error);
    // Refuse what cannot fit before any of it is allocated: the route's
    // working memory, then the hierarchy's (about 300 bytes a point).
    const std::size_t n = matrix.rows;
    const MstRoute route = choose_mst_route(params.metric, n, matrix.cols, params.alpha);
    const std::size_t k = std::min(params.effective_min_samples(), n);
    require_memory(std::max(mst_working_bytes(route, n, matrix.cols, k), 300 * n));
    context.check();

    // Extreme magnitudes are brought near 1 by an exact power of two; the
    // hierarchy then sees distances 2^units times the true ones, so epsilon
    // joins them in the same units and persistence is converted back.
    const int shift = magnitude_shift(matrix, params.metric);
    apply_shift(matrix, shift);
    const int units = distance_shift(params.metric, shift);
    context.check();

    StageClock clock(times);
    MstResult mst = compute_mst(matrix, params.metric, params.alpha, params.effective_min_samples(),
                                context, &clock);
    HierarchyResult hierarchy =
        cluster_hierarchy(mst.edges, matrix.rows, params.min_cluster_size,
                          params.cluster_selection_method, params.allow_single_cluster,
                          std::ldexp(params.cluster_selection_epsilon, units), context, &clock);
    mst.edges = {};
    for (double& value : hierarchy.persistence)
        value = std::ldexp(value, -units);
    clock.hierarchy_lap(&StageTimes::selection);

    FittedModel model;
    model.prediction.metric = params.metric;
    model.prediction.n = matrix.rows;
    model.prediction.n_features = matrix.cols;
    model.prediction.magnitude_shift = shift;
    model.prediction.labels = hierarchy.labels;
    model.prediction.probabilities = hierarchy.probabilities;
    model.prediction.core_distances = std::move(mst.core_distances);
    model.prediction.training_data = std::move(matrix);
    model.labels = std::move(hierarchy.labels);
    model.probabilities = std::move(hierarchy.probabilities);
    model.outlier_scores = std::move(hierarchy.outlier_scores);
    model.cluster_persistence = std::move(hierarchy.persistence);
    return model;
}

}  // namespace corvane
