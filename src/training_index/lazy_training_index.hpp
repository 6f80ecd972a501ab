#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "common/data_matrix.hpp"
#include "training_index/training_index.hpp"

namespace corvane {

// The TrainingIndex of one fitted model, built once it pays for itself. Building costs
// about as much as measuring every training point for index_threshold(n) new points, so
// batches are measured exhaustively until the rows predicted that way, the current
// batch's included, would reach that many; then the index is built and kept for every
// later batch. Over any sequence of batches this costs at most about twice what the
// better choice made in hindsight would have cost, and single small batches never pay
// for a build.
//
// A cache: it belongs to one model, whose unchanged training data and core distances
// every call passes, and a copy starts empty. Not thread-safe; one call at a time.
class LazyTrainingIndex {
  public:
    LazyTrainingIndex() = default;
    LazyTrainingIndex(const LazyTrainingIndex&) {}
    LazyTrainingIndex& operator=(const LazyTrainingIndex&);
    LazyTrainingIndex(LazyTrainingIndex&&) noexcept = default;
    LazyTrainingIndex& operator=(LazyTrainingIndex&&) noexcept = default;

    // The index for a batch of `rows` new points, or nullptr (the rows are then counted)
    // while measuring every training point is still the cheaper choice. A build runs on
    // the threads of `context`.
    const TrainingIndex* for_batch(const DataMatrix& training_data,
                                   std::span<const double> core_distances, std::size_t rows,
                                   const ExecutionContext& context = ExecutionContext());

    bool built() const { return index_ != nullptr; }

    // New points whose exhaustive prediction costs about one build of the index over n
    // training points (both measured on one thread, 2-D points).
    static std::size_t index_threshold(std::size_t n);

  private:
    std::unique_ptr<const TrainingIndex> index_;
    std::size_t exhaustive_rows_ = 0;
};

}  // namespace corvane
