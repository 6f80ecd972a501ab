#include "hdbscan/input_validation.hpp"

#include <cmath>

#include "hdbscan/params_validation.hpp"

namespace corvane {

std::optional<HdbscanError> scan_precomputed_values(const DataMatrix& matrix) {
    for (const double value : matrix.values) {
        if (!std::isfinite(value)) return HdbscanError::non_finite_input();
        if (value < 0.0) return HdbscanError::precomputed_negative();
    }
    return std::nullopt;
}

std::optional<HdbscanError> validate_fit_input(const HdbscanParams& params,
                                               const DataMatrix& matrix) {
    if (auto error = validate_params(params)) return error;
    if (matrix.rows == 0) return HdbscanError::empty_input();
    if (params.metric.kind == MetricKind::Precomputed) {
        if (matrix.cols != matrix.rows) {
            return HdbscanError::precomputed_not_square(matrix.rows, matrix.cols);
        }
        if (auto error = scan_precomputed_values(matrix)) return error;
    } else {
        for (const double value : matrix.values) {
            if (!std::isfinite(value)) return HdbscanError::non_finite_input();
        }
    }
    const std::size_t k = params.effective_min_samples();
    if (matrix.rows < k) return HdbscanError::min_samples_exceeds_points(k, matrix.rows);
    return std::nullopt;
}

namespace {

bool same_value(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool same_metric(const Metric& a, const Metric& b) {
    return a.kind == b.kind && (a.kind != MetricKind::Minkowski || same_value(a.p, b.p));
}

}  // namespace

std::optional<HdbscanError> validate_reselection(const HdbscanParams& params,
                                                 const FittedModel& model) {
    if (auto error = validate_params(params)) return error;
    if (params.min_samples != model.min_samples || !same_metric(params.metric, model.metric) ||
        !same_value(params.alpha, model.alpha)) {
        return HdbscanError::refit_required();
    }
    return std::nullopt;
}

}  // namespace corvane
