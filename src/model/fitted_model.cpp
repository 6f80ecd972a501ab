#include "model/fitted_model.hpp"

#include <cmath>
#include <utility>

#include "model/magnitude_scaling.hpp"

namespace corvane {
namespace {

template <class T>
std::size_t held(const std::vector<T>& values) {
    return values.capacity() * sizeof(T);
}

}  // namespace

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
    model.training_data = std::move(training_data);
    model.core_distances = std::move(mst.core_distances);
    // Epsilon joins the hierarchy's distances in the model's units.
    const SelectionParams selection{
        params.cluster_selection_method, params.allow_single_cluster,
        std::ldexp(params.cluster_selection_epsilon, model.distance_units())};
    derive_hierarchy(model, std::move(mst.edges), params.min_cluster_size, selection, context,
                     clock);
    return model;
}

void derive_hierarchy(FittedModel& model, std::vector<MstEdge> edges, std::size_t min_cluster_size,
                      const SelectionParams& selection, const ExecutionContext& context,
                      StageClock* clock) {
    model.hierarchy =
        build_hierarchy(std::move(edges), model.n(), min_cluster_size, context, clock);
    const CondensedIndex index = index_condensed_tree(model.hierarchy.condensed);
    context.check();
    select_hierarchy(model.hierarchy, index, selection);
    hierarchy_lap(clock, &StageTimes::selection);
    context.check();
    SelectionResults results = derive_selection_results(model.hierarchy, index, clock);
    context.check();
    const int units = model.distance_units();
    for (double& value : results.persistence)
        value = std::ldexp(value, -units);
    model.labels = std::move(results.labels);
    model.probabilities = std::move(results.probabilities);
    model.cluster_persistence = std::move(results.persistence);
    model.outlier_scores = derive_outlier_scores(index);
    hierarchy_lap(clock, &StageTimes::outlier_scores);
}

}  // namespace corvane
