#pragma once

#include <optional>

#include "common/hdbscan_error.hpp"
#include "common/params.hpp"

namespace corvane {

// The parameter checks made by the constructor and repeated at every fit:
// min_cluster_size, then min_samples, then the Minkowski exponent.
std::optional<HdbscanError> validate_params(const HdbscanParams& params);

}  // namespace corvane
