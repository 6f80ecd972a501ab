#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/hdbscan_error.hpp"
#include "model/fitted_model.hpp"
#include "parallel/parallel.hpp"
#include "training_index/training_index.hpp"

namespace corvane {

// One label and one confidence per new point, in row order.
struct Prediction {
    std::vector<std::int32_t> labels;
    std::vector<double> probabilities;
};

// Assigns each row of `new_points` to the cluster of its nearest training point under
// one-sided mutual reachability, max(distance, core distance of the training point), and
// scales that point's membership probability down when the new point lies beyond its
// core distance.
//
// Checks, in order: no rows gives two empty vectors (whatever the column count); a column
// count other than the model's n_features() gives DimensionMismatch; under Precomputed,
// where each row holds the distances to the n training points, the first value in
// row-major order that is not finite or below zero gives NonFiniteInput or
// PrecomputedNegative.
//
// A training point at NaN distance is no candidate, and a new point without a candidate
// at finite reachability (a NaN or infinite coordinate, say) gets label -1 and
// probability 0.0. Ties go to the lowest training index.
//
// Rows are split over the threads of `context`; results do not depend on the split. A model with
// inconsistent arrays is an internal error.
//
// Every route gives the results of approximate_predict_exhaustive, bit for bit. This one
// searches the model's training index once batches have paid for building it
// (LazyTrainingIndex), and measures every training point otherwise (always under
// Precomputed); it builds the index on the model, so it runs one call at a time per model.
Expected<Prediction> approximate_predict(FittedModel& model, const DataMatrix& new_points,
                                         const ExecutionContext& context = ExecutionContext());

// The same, searching `index`, which must have been built from the model's training data,
// core distances and metric (a Precomputed model ignores it).
Expected<Prediction> approximate_predict(const FittedModel& model, const TrainingIndex& index,
                                         const DataMatrix& new_points,
                                         const ExecutionContext& context = ExecutionContext());

// The same with every training point measured in index order, whatever the metric.
Expected<Prediction> approximate_predict_exhaustive(
    const FittedModel& model, const DataMatrix& new_points,
    const ExecutionContext& context = ExecutionContext());

// The checks of approximate_predict on `new_points` (none for no rows), then the points
// brought to the model's scale in place, ready for nearest_training_points.
std::optional<HdbscanError> prepare_new_points(const FittedModel& model, DataMatrix& new_points);

// The nearest training point of every row of `points` (prepared by prepare_new_points)
// under one-sided mutual reachability, found exactly as approximate_predict finds it
// (same routes, same index, same ties); not found for a row without a candidate.
std::vector<NearestCandidate> nearest_training_points(FittedModel& model, const DataMatrix& points,
                                                      const ExecutionContext& context);

}  // namespace corvane
