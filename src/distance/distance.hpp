#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "common/metric.hpp"
#include "distance/euclidean/euclidean.hpp"
#include "distance/point_view.hpp"

namespace corvane {

[[noreturn]] void fail_precomputed_distance();

namespace metric_kernels {

// Calls f(x_i, y_i) for the coordinate pairs in index order, over the shorter
// of the two lengths. The contiguous case gets its own loop so that it needs no
// stride arithmetic.
template <class F>
inline void for_each_pair(PointView a, PointView b, F&& f) {
    const std::size_t n = std::min(a.size, b.size);
    if (a.contiguous() && b.contiguous()) {
        for (std::size_t i = 0; i < n; ++i)
            f(a.data[i], b.data[i]);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            f(a[i], b[i]);
    }
}

// Every kernel keeps one running sum in index order: the order fixes the
// rounding, and equal rounding is what makes two routes choose the same edges.
struct Euclidean {
    double operator()(PointView a, PointView b) const { return euclidean_distance(a, b); }
};

struct Manhattan {
    double operator()(PointView a, PointView b) const {
        double sum = -0.0;
        for_each_pair(a, b, [&](double x, double y) { sum += std::fabs(x - y); });
        return sum;
    }
};

// The cosine distance from the dot product of two points and the square roots of their
// sums of squares (each summed in index order from 0.0).
inline double cosine_from_dot(double dot, double root_a, double root_b) {
    const double denominator = root_a * root_b;
    if (denominator == 0.0) return 0.0;
    double c = dot / denominator;
    if (c > 1.0) {
        c = 1.0;
    } else if (c < -1.0) {
        c = -1.0;
    }
    return 1.0 - c;
}

// 1 - cos(angle), with the cosine clamped to [-1, 1] so that rounding cannot
// give a distance below 0 or above 2; a NaN cosine passes through. A zero
// vector is at distance 0 from everything.
struct Cosine {
    double operator()(PointView a, PointView b) const {
        double dot = 0.0;
        double norm_a = 0.0;
        double norm_b = 0.0;
        for_each_pair(a, b, [&](double x, double y) {
            dot += x * y;
            norm_a += x * x;
            norm_b += y * y;
        });
        return cosine_from_dot(dot, std::sqrt(norm_a), std::sqrt(norm_b));
    }
};

// Largest absolute difference; a NaN difference never replaces the maximum,
// so coordinates where either point is NaN are skipped.
struct Chebyshev {
    double operator()(PointView a, PointView b) const {
        double largest = 0.0;
        for_each_pair(a, b, [&](double x, double y) {
            const double diff = std::fabs(x - y);
            if (diff > largest) largest = diff;
        });
        return largest;
    }
};

struct GeneralMinkowski {
    double p;
    double operator()(PointView a, PointView b) const {
        double sum = -0.0;
        for_each_pair(a, b, [&](double x, double y) { sum += std::pow(std::fabs(x - y), p); });
        return std::pow(sum, 1.0 / p);
    }
};

}  // namespace metric_kernels

// Calls f with the kernel that computes `metric`, so a loop over many pairs can
// dispatch on the metric once instead of once per pair. Minkowski with p = 1,
// p = 2 and p = infinity takes the Manhattan, Euclidean and Chebyshev kernels.
// Precomputed has no kernel: distances are read from the matrix itself.
template <class F>
inline decltype(auto) visit_metric(const Metric& metric, F&& f) {
    switch (metric.kind) {
        case MetricKind::Euclidean:
            return f(metric_kernels::Euclidean{});
        case MetricKind::Manhattan:
            return f(metric_kernels::Manhattan{});
        case MetricKind::Cosine:
            return f(metric_kernels::Cosine{});
        case MetricKind::Minkowski:
            if (metric.p == 1.0) return f(metric_kernels::Manhattan{});
            if (metric.p == 2.0) return f(metric_kernels::Euclidean{});
            if (std::isinf(metric.p)) return f(metric_kernels::Chebyshev{});
            return f(metric_kernels::GeneralMinkowski{metric.p});
        case MetricKind::Precomputed:
            break;
    }
    fail_precomputed_distance();
}

inline double compute_distance(PointView a, PointView b, const Metric& metric) {
    return visit_metric(metric, [&](auto kernel) { return kernel(a, b); });
}

}  // namespace corvane
