#pragma once

namespace corvane {

enum class MetricKind { Euclidean, Manhattan, Cosine, Minkowski, Precomputed };

// A distance metric; `p` is the Minkowski exponent (at least 1.0, possibly
// +infinity for Chebyshev) and is read only when kind is Minkowski.
struct Metric {
    MetricKind kind = MetricKind::Euclidean;
    double p = 2.0;

    static Metric euclidean() { return {MetricKind::Euclidean, 2.0}; }
    static Metric manhattan() { return {MetricKind::Manhattan, 1.0}; }
    static Metric cosine() { return {MetricKind::Cosine, 2.0}; }
    static Metric minkowski(double exponent) { return {MetricKind::Minkowski, exponent}; }
    static Metric precomputed() { return {MetricKind::Precomputed, 2.0}; }
};

}  // namespace corvane
