#pragma once

#include <optional>

#include "common/data_matrix.hpp"
#include "common/hdbscan_error.hpp"
#include "common/params.hpp"
#include "model/fitted_model.hpp"

namespace corvane {

// Every check a fit makes before any computation, in this order: the
// parameters, no rows, a precomputed matrix that is not square, one row-major
// scan of the values (non-finite, or negative under Precomputed; the first
// offending value decides), then fewer points than the neighbour count.
std::optional<HdbscanError> validate_fit_input(const HdbscanParams& params,
                                               const DataMatrix& matrix);

// The checks of a re-selection of `model` under `params`, which must give min_samples
// explicitly: the parameters, as a fit checks them, then that min_samples, the metric
// (with its exponent) and alpha are those of the fit. The fit accepted the data with
// that min_samples, so the checks of a fit that read the data would all pass.
std::optional<HdbscanError> validate_reselection(const HdbscanParams& params,
                                                 const FittedModel& model);

// The scan of a precomputed distance block: the first value in row-major order
// that is not finite (NonFiniteInput) or below zero (PrecomputedNegative).
std::optional<HdbscanError> scan_precomputed_values(const DataMatrix& matrix);

}  // namespace corvane
