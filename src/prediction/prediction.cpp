#include "prediction/prediction.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <variant>

#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "hdbscan/input_validation.hpp"
#include "model/magnitude_scaling.hpp"
#include "prediction/exhaustive_search.hpp"
#include "prediction/query_order.hpp"
#include "training_index/blocked_nearest.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

void check_model(const FittedModel& model) {
    const std::size_t n = model.n();
    const DataMatrix& data = model.training_data;
    if (model.labels.size() != n || model.probabilities.size() != n ||
        model.core_distances.size() != n || data.values.size() != data.rows * data.cols) {
        fail_internal("approximate_predict: inconsistent model");
    }
}

std::optional<HdbscanError> check_new_points(const FittedModel& model,
                                             const DataMatrix& new_points) {
    if (new_points.cols != model.n_features()) {
        return HdbscanError::dimension_mismatch(model.n_features(), new_points.cols);
    }
    if (model.metric.kind == MetricKind::Precomputed) return scan_precomputed_values(new_points);
    return std::nullopt;
}

// The neighbour's probability, scaled by (1/r) / (1/c) when the new point lies beyond the
// neighbour's core distance c. The ratio is formed from the two reciprocals, in this
// form, because c / r rounds differently.
double scaled_probability(double probability, double core_distance, double reachability) {
    if (core_distance >= reachability) return probability;
    const double lambda_core = core_distance > 0.0 ? 1.0 / core_distance : INF;
    if (lambda_core == INF) return probability;
    const double lambda_reachability = reachability > 0.0 ? 1.0 / reachability : INF;
    return probability * std::min(lambda_reachability / lambda_core, 1.0);
}

void assign(const FittedModel& model, const NearestCandidate& nearest, std::int32_t& label,
            double& probability) {
    if (!nearest.found()) {
        label = -1;
        probability = 0.0;
        return;
    }
    label = model.labels[nearest.index];
    probability =
        label < 0 ? 0.0
                  : scaled_probability(model.probabilities[nearest.index],
                                       model.core_distances[nearest.index], nearest.reachability);
}

// Runs the per-row loop over threads. `make_finder()` is called once per piece and
// returns a callable mapping a row of `points` to its NearestCandidate, so that each
// worker owns its scratch space; `record(i, nearest)` stores row i's result in its own
// slot. Rows are visited in `order` when one is given (each chunk taking a contiguous
// stretch of it), in row order otherwise.
template <class MakeFinder, class Record>
void find_rows(const DataMatrix& points, const ExecutionContext& context, MakeFinder&& make_finder,
               Record&& record, const std::vector<std::size_t>& order = {}) {
    for_each_row_chunk(context, points.rows, [&](RowChunk chunk) {
        auto find = make_finder();
        for (std::size_t k = chunk.start; k < chunk.end; ++k) {
            const std::size_t i = order.empty() ? k : order[k];
            record(i, find(points.row(i)));
        }
    });
}

template <class Record>
void find_exhaustive(const FittedModel& model, const DataMatrix& points,
                     const ExecutionContext& context, Record&& record) {
    if (model.metric.kind == MetricKind::Precomputed) {
        find_rows(
            points, context,
            [&] {
                return
                    [&](const double* distances) { return precomputed_nearest(model, distances); };
            },
            record);
        return;
    }
    visit_metric(model.metric, [&](auto kernel) {
        find_rows(
            points, context,
            [&] {
                return
                    [&](const double* point) { return exhaustive_nearest(model, kernel, point); };
            },
            record);
    });
}

template <class Record>
void find_with_index(const FittedModel& model, const TrainingIndex& index, const DataMatrix& points,
                     const ExecutionContext& context, Record&& record) {
    if (index.n_points != model.n() || index.dims != model.n_features()) {
        fail_internal("approximate_predict: the index was not built from this model");
    }
    if (std::holds_alternative<BlockTree>(index.tree)) {
        std::vector<NearestCandidate> nearest(points.rows);
        blocked_nearest(index, points, z_order(points, context), nearest, context);
        for (std::size_t i = 0; i < points.rows; ++i)
            record(i, nearest[i]);
        return;
    }
    find_rows(
        points, context,
        [&] {
            return
                [&index, scratch = std::vector<double>(index.scratch_size())](
                    const double* point) mutable { return index.nearest(point, scratch.data()); };
        },
        record, z_order(points, context));
}

// The search of approximate_predict(FittedModel&, ...): through the model's training
// index once batches have paid for it, every training point otherwise.
template <class Record>
void find_nearest(FittedModel& model, const DataMatrix& points, const ExecutionContext& context,
                  Record&& record) {
    const TrainingIndex* index = model.training_index.for_batch(
        model.training_data, model.core_distances, model.metric, points.rows, context);
    if (index == nullptr) {
        find_exhaustive(model, points, context, record);
    } else {
        find_with_index(model, *index, points, context, record);
    }
}

// The prediction of each row from its nearest training point, found by `find(record)`.
template <class Find>
Prediction predict_rows(const FittedModel& model, std::size_t rows, Find&& find) {
    Prediction out;
    out.labels.assign(rows, -1);
    out.probabilities.assign(rows, 0.0);
    find([&](std::size_t i, const NearestCandidate& nearest) {
        assign(model, nearest, out.labels[i], out.probabilities[i]);
    });
    return out;
}

// The checks shared by every route, then `route(points)` on the new points brought to the
// model's scale.
template <class Route>
Expected<Prediction> predict_checked(const FittedModel& model, const DataMatrix& new_points,
                                     Route&& route) {
    check_model(model);
    if (new_points.rows == 0) return Prediction{};
    if (auto error = check_new_points(model, new_points)) return std::unexpected(*error);
    if (model.magnitude_shift == 0) return route(new_points);
    DataMatrix shifted = new_points;
    apply_shift(shifted, model.magnitude_shift);
    return route(shifted);
}

}  // namespace

Expected<Prediction> approximate_predict(FittedModel& model, const DataMatrix& new_points,
                                         const ExecutionContext& context) {
    // The route runs only after every check passed, so a failing call neither builds the
    // index nor counts its rows.
    return predict_checked(model, new_points, [&](const DataMatrix& points) {
        return predict_rows(model, points.rows,
                            [&](auto record) { find_nearest(model, points, context, record); });
    });
}

Expected<Prediction> approximate_predict(const FittedModel& model, const TrainingIndex& index,
                                         const DataMatrix& new_points,
                                         const ExecutionContext& context) {
    return predict_checked(model, new_points, [&](const DataMatrix& points) {
        return predict_rows(model, points.rows, [&](auto record) {
            if (model.metric.kind == MetricKind::Precomputed) {
                find_exhaustive(model, points, context, record);
            } else {
                find_with_index(model, index, points, context, record);
            }
        });
    });
}

Expected<Prediction> approximate_predict_exhaustive(const FittedModel& model,
                                                    const DataMatrix& new_points,
                                                    const ExecutionContext& context) {
    return predict_checked(model, new_points, [&](const DataMatrix& points) {
        return predict_rows(model, points.rows,
                            [&](auto record) { find_exhaustive(model, points, context, record); });
    });
}

std::optional<HdbscanError> prepare_new_points(const FittedModel& model, DataMatrix& new_points) {
    check_model(model);
    if (new_points.rows == 0) return std::nullopt;
    if (auto error = check_new_points(model, new_points)) return error;
    if (model.magnitude_shift != 0) apply_shift(new_points, model.magnitude_shift);
    return std::nullopt;
}

std::vector<NearestCandidate> nearest_training_points(FittedModel& model, const DataMatrix& points,
                                                      const ExecutionContext& context) {
    std::vector<NearestCandidate> nearest(points.rows);
    if (points.rows == 0) return nearest;
    find_nearest(model, points, context,
                 [&](std::size_t i, const NearestCandidate& found) { nearest[i] = found; });
    return nearest;
}

}  // namespace corvane
