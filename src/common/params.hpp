#pragma once

#include <cstddef>
#include <optional>

#include "common/metric.hpp"

namespace corvane {

enum class ClusterSelectionMethod { Eom, Leaf };

// The validated clustering parameters of one HDBSCAN object.
struct HdbscanParams {
    std::size_t min_cluster_size = 5;
    std::optional<std::size_t> min_samples;
    Metric metric;
    double alpha = 1.0;
    double cluster_selection_epsilon = 0.0;
    ClusterSelectionMethod cluster_selection_method = ClusterSelectionMethod::Eom;
    bool allow_single_cluster = false;
    std::optional<std::size_t> max_cluster_size;          // absent: no cap
    std::optional<double> cluster_selection_epsilon_max;  // absent: no cap

    // The neighbour count of core distances: min_samples, or min_cluster_size when absent.
    std::size_t effective_min_samples() const { return min_samples.value_or(min_cluster_size); }
};

}  // namespace corvane
