#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "common/float_text.hpp"
#include "common/hdbscan_error.hpp"
#include "hdbscan/input_validation.hpp"
#include "hdbscan/params_validation.hpp"

namespace corvane {
namespace {

TEST(FloatText, ShortestPlainNotation) {
    EXPECT_EQ(float_text(1.0), "1");
    EXPECT_EQ(float_text(0.0), "0");
    EXPECT_EQ(float_text(-0.0), "-0");
    EXPECT_EQ(float_text(0.5), "0.5");
    EXPECT_EQ(float_text(-2.0), "-2");
    EXPECT_EQ(float_text(0.25), "0.25");
    EXPECT_EQ(float_text(1e-7), "0.0000001");
    EXPECT_EQ(float_text(123.456), "123.456");
    EXPECT_EQ(float_text(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(float_text(1e21), "1000000000000000000000");
    EXPECT_EQ(float_text(1e300), "1" + std::string(300, '0'));
    EXPECT_EQ(float_text(5e-324), "0." + std::string(323, '0') + "5");
    EXPECT_EQ(float_text(std::nan("")), "NaN");
    EXPECT_EQ(float_text(-std::nan("")), "NaN");
    EXPECT_EQ(float_text(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(float_text(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(FloatText, ReadsBackExactly) {
    for (double value : {3.141592653589793, 1.7976931348623157e308, 2.2250738585072014e-308,
                         123456789.125, 1e-5, 7e22}) {
        EXPECT_EQ(std::stod(float_text(value)), value) << float_text(value);
    }
}

TEST(HdbscanError, Messages) {
    EXPECT_EQ(HdbscanError::empty_input().message(), "input data must have at least one point");
    EXPECT_EQ(HdbscanError::non_finite_input().message(),
              "input data contains NaN or infinite values");
    EXPECT_EQ(HdbscanError::min_cluster_size_too_small(1).message(),
              "min_cluster_size must be at least 2, got 1");
    EXPECT_EQ(HdbscanError::min_samples_too_small(0).message(),
              "min_samples must be at least 1, got 0");
    EXPECT_EQ(HdbscanError::min_samples_exceeds_points(10, 7).message(),
              "min_samples (10) exceeds number of points (7)");
    EXPECT_EQ(HdbscanError::precomputed_not_square(3, 4).message(),
              "precomputed distance matrix must be square, got 3x4");
    EXPECT_EQ(HdbscanError::precomputed_negative().message(),
              "precomputed distance matrix contains negative values");
    EXPECT_EQ(HdbscanError::not_fitted().message(), "model has not been fitted yet");
    EXPECT_EQ(HdbscanError::dimension_mismatch(3, 2).message(),
              "dimension mismatch: model fitted with 3 features, got 2");
    EXPECT_EQ(HdbscanError::invalid_minkowski_p(0.25).message(),
              "Minkowski p must be >= 1.0, got 0.25");
    EXPECT_EQ(HdbscanError::max_cluster_size_too_small(5, 3).message(),
              "max_cluster_size must be at least min_cluster_size (5), got 3");
    EXPECT_EQ(HdbscanError::epsilon_max_too_small(0.5, std::nan("")).message(),
              "cluster_selection_epsilon_max must be greater than cluster_selection_epsilon "
              "(0.5), got NaN");
    EXPECT_EQ(HdbscanError::refit_required().message(),
              "reselect keeps the fitted hierarchy: fit again to change min_samples, metric, p "
              "or alpha");
    EXPECT_EQ(HdbscanError::min_cluster_size_too_small(18446744073709551615ULL).message(),
              "min_cluster_size must be at least 2, got 18446744073709551615");
}

TEST(ParamsValidation, OrderOfChecks) {
    HdbscanParams params;
    EXPECT_FALSE(validate_params(params).has_value());

    params.min_cluster_size = 1;
    params.min_samples = 0;
    params.metric = Metric::minkowski(0.5);
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::MinClusterSizeTooSmall);
    params.min_cluster_size = 2;
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::MinSamplesTooSmall);
    params.min_samples = 1;
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::InvalidMinkowskiP);
    params.metric = Metric::minkowski(std::nan(""));
    EXPECT_EQ(validate_params(params)->message(), "Minkowski p must be >= 1.0, got NaN");
    params.metric = Metric::minkowski(std::numeric_limits<double>::infinity());
    EXPECT_FALSE(validate_params(params).has_value());
    params.metric = Metric::euclidean();
    params.metric.p = 0.5;  // ignored outside Minkowski
    EXPECT_FALSE(validate_params(params).has_value());

    // The caps come last, each against the parameter it bounds.
    params.max_cluster_size = 1;
    params.cluster_selection_epsilon_max = -1.0;
    params.min_cluster_size = 1;
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::MinClusterSizeTooSmall);
    params.min_cluster_size = 2;
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::MaxClusterSizeTooSmall);
    params.max_cluster_size = 2;
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::EpsilonMaxTooSmall);
    params.cluster_selection_epsilon = -1.5;
    EXPECT_FALSE(validate_params(params).has_value());
    params.cluster_selection_epsilon = std::nan("");
    EXPECT_EQ(validate_params(params)->kind, ErrorKind::EpsilonMaxTooSmall);
}

TEST(ParamsValidation, ReselectionKeepsTheHierarchysParameters) {
    FittedModel model;
    model.metric = Metric::minkowski(3.0);
    model.min_samples = 4;
    model.alpha = std::nan("");
    HdbscanParams params;
    params.metric = Metric::minkowski(3.0);
    params.min_samples = 4;
    params.alpha = std::nan("");
    EXPECT_FALSE(validate_reselection(params, model).has_value());
    params.min_cluster_size = 1;
    EXPECT_EQ(validate_reselection(params, model)->kind, ErrorKind::MinClusterSizeTooSmall);
    params.min_cluster_size = 50;  // beyond the points: a fit would take it too
    EXPECT_FALSE(validate_reselection(params, model).has_value());
    for (const auto& change : std::vector<std::function<void(HdbscanParams&)>>{
             [](HdbscanParams& p) { p.min_samples = 5; },
             [](HdbscanParams& p) { p.min_samples.reset(); },
             [](HdbscanParams& p) { p.metric = Metric::minkowski(2.0); },
             [](HdbscanParams& p) { p.metric = Metric::euclidean(); },
             [](HdbscanParams& p) { p.alpha = 1.0; }}) {
        HdbscanParams changed = params;
        change(changed);
        EXPECT_EQ(validate_reselection(changed, model)->kind, ErrorKind::RefitRequired);
    }
    // The exponent is read only under Minkowski.
    model.metric = Metric::euclidean();
    params.metric = Metric::euclidean();
    params.metric.p = 7.0;
    EXPECT_FALSE(validate_reselection(params, model).has_value());
}

}  // namespace
}  // namespace corvane
