#include "distance/euclidean/euclidean.hpp"

#include <string>

#include "common/internal_error.hpp"

namespace corvane {

void fail_euclidean_operands(PointView a, PointView b) {
    if (b.size < a.size) {
        fail_internal("euclidean_distance: second point has " + std::to_string(b.size) +
                      " coordinates, first has " + std::to_string(a.size));
    }
    fail_internal("euclidean_distance needs contiguous points");
}

}  // namespace corvane
