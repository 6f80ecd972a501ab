#include "distance/euclidean/euclidean.hpp"

#include "common/internal_error.hpp"

namespace corvane {

void fail_non_contiguous_point() {
    fail_internal("euclidean_distance needs contiguous points");
}

}  // namespace corvane
