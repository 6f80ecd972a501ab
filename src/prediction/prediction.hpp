#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/hdbscan_error.hpp"
#include "hdbscan/fitted_model.hpp"
#include "parallel/parallel.hpp"
#include "prediction/prediction_index.hpp"

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
// count other than model.n_features gives DimensionMismatch; under Precomputed, where
// each row holds the distances to the n training points, the first value in row-major
// order that is not finite or below zero gives NonFiniteInput or PrecomputedNegative.
//
// A training point at NaN distance is no candidate, and a new point without a candidate
// at finite reachability (a NaN or infinite coordinate, say) gets label -1 and
// probability 0.0. Ties go to the lowest training index.
//
// Rows are split over the threads of `context`; results do not depend on the split. A model with
// inconsistent arrays is an internal error.
//
// Every route gives the results of approximate_predict_exhaustive, bit for bit. This one
// builds a PredictionIndex for a Euclidean model when the batch is large enough to pay
// for it (see PredictionCache), and measures every training point otherwise.
Expected<Prediction> approximate_predict(const PredictionData& model, const DataMatrix& new_points,
                                         const ExecutionContext& context = ExecutionContext());

// The same, searching `index`, which must have been built from `model`, for Euclidean
// models (other metrics ignore it).
Expected<Prediction> approximate_predict(const PredictionData& model, const PredictionIndex& index,
                                         const DataMatrix& new_points,
                                         const ExecutionContext& context = ExecutionContext());

// The same with every training point measured in index order, whatever the metric.
Expected<Prediction> approximate_predict_exhaustive(
    const PredictionData& model, const DataMatrix& new_points,
    const ExecutionContext& context = ExecutionContext());

// The PredictionIndex of one fitted model, built once it pays for itself. Building costs
// about as much as measuring every training point for index_threshold(n) new points, so
// calls measure exhaustively until the rows predicted that way, this call's included,
// would reach that many; then the index is built and kept for every later call. Over
// any sequence of calls this costs at most about twice what the better choice made in
// hindsight would have cost, and single small calls never pay for a build.
//
// Belongs to one model: every call must pass the same, unchanged PredictionData. Not
// thread-safe; one call at a time.
class PredictionCache {
  public:
    Expected<Prediction> predict(const PredictionData& model, const DataMatrix& new_points,
                                 const ExecutionContext& context = ExecutionContext());

    bool has_index() const { return index_ != nullptr; }

    // New points whose exhaustive prediction costs about one build of the index over n
    // training points (both measured on one thread, 2-D points).
    static std::size_t index_threshold(std::size_t n);

  private:
    std::unique_ptr<const PredictionIndex> index_;
    std::size_t exhaustive_rows_ = 0;
};

}  // namespace corvane
