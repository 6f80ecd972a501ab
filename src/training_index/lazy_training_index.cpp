#include "training_index/lazy_training_index.hpp"

#include <bit>

namespace corvane {

LazyTrainingIndex& LazyTrainingIndex::operator=(const LazyTrainingIndex&) {
    index_.reset();
    exhaustive_rows_ = 0;
    return *this;
}

std::size_t LazyTrainingIndex::index_threshold(std::size_t n) {
    return 8 * static_cast<std::size_t>(std::bit_width(n));
}

const TrainingIndex* LazyTrainingIndex::for_batch(const DataMatrix& training_data,
                                                  std::span<const double> core_distances,
                                                  std::size_t rows,
                                                  const ExecutionContext& context) {
    if (index_ == nullptr) {
        if (exhaustive_rows_ + rows < index_threshold(training_data.rows)) {
            exhaustive_rows_ += rows;
            return nullptr;
        }
        index_ = std::make_unique<const TrainingIndex>(
            TrainingIndex::build(training_data, core_distances, context));
    }
    return index_.get();
}

}  // namespace corvane
