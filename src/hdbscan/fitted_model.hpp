#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"

namespace corvane {

// What approximate prediction reads from a fit.
struct PredictionData {
    Metric metric;
    std::size_t n = 0;
    std::vector<std::int32_t> labels;
    std::vector<double> probabilities;
    // Input order; the n x n matrix under Precomputed. Like the core distances
    // it is held multiplied by 2^magnitude_shift (see magnitude_scaling.hpp);
    // new points are shifted the same way before they are compared.
    DataMatrix training_data;
    std::vector<double> core_distances;
    std::size_t n_features = 0;
    int magnitude_shift = 0;
};

// The results of one successful fit; replaced as a whole by the next one.
struct FittedModel {
    std::vector<std::int32_t> labels;
    std::vector<double> probabilities;
    std::vector<double> outlier_scores;
    std::vector<double> cluster_persistence;  // one per selected cluster, label order
    PredictionData prediction;
};

}  // namespace corvane
