#include "model/fitted_model.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "model/magnitude_scaling.hpp"

namespace corvane {
namespace {

template <class T>
std::size_t held(const std::vector<T>& values) {
    return values.capacity() * sizeof(T);
}

// The selection parameters of `params` in the model's distance units.
SelectionParams selection_params(const HdbscanParams& params, int units) {
    constexpr double no_cap = std::numeric_limits<double>::infinity();
    return {params.cluster_selection_method, params.allow_single_cluster,
            std::ldexp(params.cluster_selection_epsilon, units),
            params.max_cluster_size.value_or(SelectionParams::NO_SIZE_CAP),
            std::ldexp(params.cluster_selection_epsilon_max.value_or(no_cap), units)};
}

}  // namespace

void install_selection(FittedModel& model, HierarchySelection& selected) noexcept {
    const int units = model.distance_units();
    for (double& value : selected.results.persistence)
        value = std::ldexp(value, -units);
    model.labels = std::move(selected.results.labels);
    model.probabilities = std::move(selected.results.probabilities);
    model.cluster_persistence = std::move(selected.results.persistence);
    if (selected.outlier_scores) model.outlier_scores = std::move(*selected.outlier_scores);
    install_selection(model.hierarchy, selected);
}

int FittedModel::distance_units() const {
    return distance_shift(metric, magnitude_shift);
}

ModelBytes FittedModel::bytes() const {
    return {held(training_data.values), held(core_distances), hierarchy.bytes(),
            held(labels) + held(probabilities) + held(outlier_scores) + held(cluster_persistence)};
}

FittedModel assemble_model(const HdbscanParams& params, DataMatrix training_data,
                           int magnitude_shift, MstResult mst, const ExecutionContext& context,
                           StageClock* clock) {
    FittedModel model;
    model.metric = params.metric;
    model.magnitude_shift = magnitude_shift;
    model.min_samples = params.effective_min_samples();
    model.alpha = params.alpha;
    model.hierarchy = link_hierarchy(std::move(mst.edges), training_data.rows, context, clock);
    HierarchySelection selected = reselect_model(model, params, context, clock);
    install_selection(model, selected);
    model.training_data = std::move(training_data);
    model.core_distances = std::move(mst.core_distances);
    return model;
}

HierarchySelection reselect_model(const FittedModel& model, const HdbscanParams& params,
                                  const ExecutionContext& context, StageClock* clock) {
    return select_hierarchy(model.hierarchy, params.min_cluster_size,
                            selection_params(params, model.distance_units()), context, clock);
}

}  // namespace corvane
