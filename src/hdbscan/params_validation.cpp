#include "hdbscan/params_validation.hpp"

#include <cmath>

namespace corvane {

std::optional<HdbscanError> validate_params(const HdbscanParams& params) {
    if (params.min_cluster_size < 2) {
        return HdbscanError::min_cluster_size_too_small(params.min_cluster_size);
    }
    if (params.min_samples && *params.min_samples == 0) {
        return HdbscanError::min_samples_too_small(0);
    }
    const Metric& metric = params.metric;
    if (metric.kind == MetricKind::Minkowski && (std::isnan(metric.p) || metric.p < 1.0)) {
        return HdbscanError::invalid_minkowski_p(metric.p);
    }
    if (params.max_cluster_size && *params.max_cluster_size < params.min_cluster_size) {
        return HdbscanError::max_cluster_size_too_small(params.min_cluster_size,
                                                        *params.max_cluster_size);
    }
    const auto& epsilon_max = params.cluster_selection_epsilon_max;
    if (epsilon_max && !(*epsilon_max > params.cluster_selection_epsilon)) {
        return HdbscanError::epsilon_max_too_small(params.cluster_selection_epsilon, *epsilon_max);
    }
    return std::nullopt;
}

}  // namespace corvane
