#include "distance/distance.hpp"

#include "common/internal_error.hpp"

namespace corvane {

void fail_precomputed_distance() {
    fail_internal("compute_distance should not be called with Precomputed metric");
}

}  // namespace corvane
