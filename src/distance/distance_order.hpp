#pragma once

#include <cmath>

namespace corvane {

// Strict weak order on distances that puts NaN after every number, +infinity
// included, with all NaNs equivalent. Overflowing cosine or Minkowski sums can
// produce NaN, and a plain `<` would make sorting or selecting such values
// undefined.
inline bool distance_less(double a, double b) {
    return a < b || (std::isnan(b) && !std::isnan(a));
}

}  // namespace corvane
