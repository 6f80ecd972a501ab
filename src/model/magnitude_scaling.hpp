#pragma once

#include "common/data_matrix.hpp"
#include "common/metric.hpp"

namespace corvane {

// The binary exponent by which a fit shifts its data (multiplies it by
// 2^shift) so that every metric's arithmetic (squares, dot products,
// Minkowski powers) stays clear of overflow and underflow. 0 for ordinary
// data, which is therefore never touched, and always 0 under Precomputed.
// A power-of-two shift is exact, so labels, probabilities and outlier scores
// do not change; quantities with units (distances, persistence, epsilon) are
// converted with the same shift.
int magnitude_shift(const DataMatrix& matrix, const Metric& metric);

// Whether `shifted` holds data that magnitude_shift shifts by `shift`, after the shift:
// the check of a shift that comes with data already shifted.
bool is_magnitude_shift_of(const DataMatrix& shifted, const Metric& metric, int shift);

// The shift that distances undergo when the data is shifted by `data_shift`:
// the same, except under Cosine, whose distances do not depend on scale.
int distance_shift(const Metric& metric, int data_shift);

// Multiplies every value by 2^shift.
void apply_shift(DataMatrix& matrix, int shift);

}  // namespace corvane
