#pragma once

#include <optional>

#include "common/hdbscan_error.hpp"
#include "common/params.hpp"

namespace corvane {

// The parameter checks made by the constructor and repeated at every fit and
// re-selection: min_cluster_size, min_samples, the Minkowski exponent, then the
// two caps against the parameters they bound (max_cluster_size at least
// min_cluster_size, cluster_selection_epsilon_max greater than
// cluster_selection_epsilon).
std::optional<HdbscanError> validate_params(const HdbscanParams& params);

}  // namespace corvane
