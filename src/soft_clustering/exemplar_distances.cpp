#include "soft_clustering/exemplar_distances.hpp"

#include <limits>
#include <utility>

#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "training_index/nearest_candidate.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// The smallest non-NaN value that `distance(j)` gives over the exemplars j.
template <class Distance>
double smallest(std::span<const std::size_t> exemplars, Distance&& distance) {
    NearestCandidate nearest;
    for (const std::size_t j : exemplars)
        nearest.offer(j, distance(j));
    return nearest.reachability;
}

}  // namespace

ExemplarDistances::ExemplarDistances(const DataMatrix& training_data, const Metric& metric,
                                     PointsByCluster exemplars, const ExecutionContext& context)
    : training_data_(&training_data), metric_(metric), exemplars_(std::move(exemplars)) {
    if (metric_.kind == MetricKind::Precomputed) return;
    const std::size_t dims = training_data.cols;
    indexes_.reserve(clusters());
    for (std::size_t k = 0; k < clusters(); ++k) {
        const auto rows = exemplars_.of(k);
        DataMatrix block(rows.size(), dims);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const double* row = training_data.row(rows[i]);
            std::copy(row, row + dims, block.row(i));
        }
        // All clusters indexed or none: Precomputed, and cosine rows that CosineRows
        // refuses, are scanned.
        if (!TrainingIndex::serves(block, metric_)) {
            indexes_.clear();
            return;
        }
        const std::vector<double> zero_core(rows.size(), 0.0);
        indexes_.push_back(TrainingIndex::build(block, zero_core, metric_, context));
    }
}

void ExemplarDistances::measure(const double* point, std::span<double> distances,
                                double* scratch) const {
    const std::size_t k = clusters();
    if (distances.size() != k) fail_internal("ExemplarDistances: one distance per cluster");
    if (!indexes_.empty()) {
        for (std::size_t c = 0; c < k; ++c) {
            const NearestCandidate nearest = indexes_[c].nearest(point, scratch);
            distances[c] = nearest.found() ? nearest.reachability : INF;
        }
        return;
    }
    if (metric_.kind == MetricKind::Precomputed) {
        for (std::size_t c = 0; c < k; ++c) {
            distances[c] = smallest(exemplars_.of(c), [&](std::size_t j) { return point[j]; });
        }
        return;
    }
    const std::size_t dims = training_data_->cols;
    const PointView query(point, dims);
    visit_metric(metric_, [&](auto kernel) {
        for (std::size_t c = 0; c < k; ++c) {
            distances[c] = smallest(exemplars_.of(c), [&](std::size_t j) {
                return kernel(query, PointView(training_data_->row(j), dims));
            });
        }
    });
}

}  // namespace corvane
