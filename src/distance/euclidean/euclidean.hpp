#pragma once

#include <cmath>
#include <cstddef>

#include "distance/euclidean/squared_distance.hpp"
#include "distance/point_view.hpp"

namespace corvane {

[[noreturn]] void fail_euclidean_operands(PointView a, PointView b);

// Sum of squared coordinate differences over the length of `a`, in the one summation order
// of squared_distance.hpp; `b` must have at least as many elements, and both points must be
// contiguous from two coordinates up (a strided point is refused, never read strided).
inline double squared_euclidean_distance(PointView a, PointView b) {
    const std::size_t n = a.size;
    if (b.size < n || (n >= 2 && (!a.contiguous() || !b.contiguous()))) {
        fail_euclidean_operands(a, b);
    }
    return squared_distance(a.data, b.data, n);
}

inline double euclidean_distance(PointView a, PointView b) {
    return std::sqrt(squared_euclidean_distance(a, b));
}

}  // namespace corvane
