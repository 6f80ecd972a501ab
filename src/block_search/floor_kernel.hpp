#pragma once

#include <cstddef>

namespace corvane {

// out[i] = the squared distance of row i of `rows` (count x dims, row-major) to `point`,
// summed in whatever order the machine's vector units and fused multiply-adds favour.
// This is not the one summation order of squared_distance, so its values never reach a
// result; they feed bounds whose margins cover any order: the difference, square and
// d - 1 additions cost at most (dims + 3) 2^-53 relative to the value (gamma bounds hold
// for fused multiply-adds too, which round once instead of twice).
void unordered_squared_distances(const double* rows, std::size_t count, std::size_t dims,
                                 const double* point, double* out);

}  // namespace corvane
