#include "cluster_centres/norm_medoid.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "cluster_centres/compensated_sum.hpp"
#include "common/internal_error.hpp"
#include "distance/distance.hpp"

namespace corvane {
namespace {

// Subgradients of y -> ||y - z|| at y = x: each adds weight times one to `gradient`, given
// diff = x - z != 0 and distance = ||diff|| > 0.
struct EuclideanSlope {
    void operator()(const double* diff, std::size_t columns, double distance, double weight,
                    double* gradient) const {
        const double scale = weight / distance;
        for (std::size_t i = 0; i < columns; ++i)
            gradient[i] += scale * diff[i];
    }
};

struct ManhattanSlope {
    void operator()(const double* diff, std::size_t columns, double, double weight,
                    double* gradient) const {
        for (std::size_t i = 0; i < columns; ++i) {
            if (diff[i] > 0.0) gradient[i] += weight;
            if (diff[i] < 0.0) gradient[i] -= weight;
        }
    }
};

struct ChebyshevSlope {
    void operator()(const double* diff, std::size_t columns, double, double weight,
                    double* gradient) const {
        std::size_t largest = 0;
        for (std::size_t i = 1; i < columns; ++i) {
            if (std::fabs(diff[i]) > std::fabs(diff[largest])) largest = i;
        }
        gradient[largest] += std::copysign(weight, diff[largest]);
    }
};

struct MinkowskiSlope {
    double p;
    void operator()(const double* diff, std::size_t columns, double distance, double weight,
                    double* gradient) const {
        for (std::size_t i = 0; i < columns; ++i) {
            gradient[i] +=
                std::copysign(weight * std::pow(std::fabs(diff[i]) / distance, p - 1.0), diff[i]);
        }
    }
};

EuclideanSlope slope_of(metric_kernels::Euclidean) {
    return {};
}
ManhattanSlope slope_of(metric_kernels::Manhattan) {
    return {};
}
ChebyshevSlope slope_of(metric_kernels::Chebyshev) {
    return {};
}
MinkowskiSlope slope_of(metric_kernels::GeneralMinkowski kernel) {
    return {kernel.p};
}
[[noreturn]] EuclideanSlope slope_of(metric_kernels::Cosine) {
    fail_internal("norm_medoid: the cosine distance is not a norm");
}

// Units in the last place that one distance, one subgradient term or one product with a
// coordinate difference may be off by: a few for each coordinate summed, and the
// Minkowski power p multiplies the error of a ratio raised to p - 1.
double rounding_units(const Metric& metric, std::size_t columns) {
    const double exponent = metric.kind == MetricKind::Minkowski && std::isfinite(metric.p)
                                ? std::max(metric.p, 1.0)
                                : 1.0;
    return 4.0 * (static_cast<double>(columns) + 8.0) * exponent;
}

// A step pays when it drops at least this many points besides the one it measures; after
// this many steps in a row that do not, the rest are measured one by one.
constexpr std::size_t PAYING_DROP = 4;
constexpr std::size_t PATIENCE = 4;

template <class Kernel>
MedoidSearch search(std::span<const double> rows, std::size_t columns,
                    std::span<const double> weights, Kernel kernel, double units,
                    const SumTolerance& tolerance, const ExecutionContext& context) {
    const std::size_t count = weights.size();
    const auto slope = slope_of(kernel);
    const auto row = [&](std::size_t j) { return rows.data() + j * columns; };
    const auto point = [&](std::size_t j) { return PointView(row(j), columns); };

    CompensatedSum total;
    std::vector<double> centre(columns, 0.0);
    for (std::size_t j = 0; j < count; ++j) {
        total.add(weights[j]);
        for (std::size_t i = 0; i < columns; ++i)
            centre[i] += weights[j] * row(j)[i];
    }
    const double weight = total.value();
    if (weight > 0.0) {
        for (double& value : centre)
            value /= weight;
    }
    std::size_t x = 0;
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t j = 0; j < count; ++j) {
        const double distance = kernel(PointView(centre.data(), columns), point(j));
        if (distance < nearest) {
            nearest = distance;
            x = j;
        }
    }

    // Every computed quantity in a bound, and the sums it is compared with, is within
    // `rounding` times (S(x) + W d(x, y)) of its exact value; the plain sums of the
    // subgradient bring in one unit per term.
    const double rounding =
        (static_cast<double>(count) + units) * std::numeric_limits<double>::epsilon();
    std::vector<double> lower(count, 0.0);
    std::vector<double> distance(count);
    std::vector<std::size_t> active(count);
    std::iota(active.begin(), active.end(), std::size_t{0});
    std::vector<double> gradient(columns);
    std::vector<double> diff(columns);
    MedoidSearch result;
    double best = std::numeric_limits<double>::infinity();
    std::size_t idle_steps = 0;
    for (;;) {
        context.check();
        const double* const origin = row(x);
        CompensatedSum sum;
        std::fill(gradient.begin(), gradient.end(), 0.0);
        for (std::size_t j = 0; j < count; ++j) {
            const double d = kernel(point(x), point(j));
            distance[j] = d;
            if (!(d > 0.0)) continue;
            sum.add(weights[j] * d);
            for (std::size_t i = 0; i < columns; ++i)
                diff[i] = origin[i] - row(j)[i];
            slope(diff.data(), columns, d, weights[j], gradient.data());
        }
        const double s = sum.value();
        result.measured.add(x, s);
        best = std::min(best, s);
        const double cutoff = best + tolerance.of(best);

        const std::size_t before = active.size();
        std::size_t next = count;
        double next_lower = std::numeric_limits<double>::infinity();
        std::size_t kept = 0;
        for (const std::size_t j : active) {
            if (j == x) continue;
            if (distance[j] == 0.0 && std::equal(origin, origin + columns, row(j))) {
                result.measured.add(j, s);
                continue;
            }
            double tangent = s;
            for (std::size_t i = 0; i < columns; ++i)
                tangent += gradient[i] * (row(j)[i] - origin[i]);
            const double far = weight * distance[j] - s;
            const double bound = std::max(tangent, far) - rounding * (s + weight * distance[j]);
            lower[j] = std::max(lower[j], bound);
            if (lower[j] > cutoff) continue;
            active[kept++] = j;
            if (lower[j] < next_lower) {
                next_lower = lower[j];
                next = j;
            }
        }
        active.resize(kept);
        idle_steps = before - kept > PAYING_DROP ? 0 : idle_steps + 1;
        if (active.empty() || idle_steps == PATIENCE) break;
        x = next;
    }
    result.unresolved = std::move(active);
    return result;
}

}  // namespace

MedoidSearch norm_medoid_search(std::span<const double> rows, std::size_t columns,
                                std::span<const double> weights, const Metric& metric,
                                const SumTolerance& tolerance, const ExecutionContext& context) {
    if (weights.empty() || rows.size() != weights.size() * columns) {
        fail_internal("norm_medoid_search: one row of coordinates per weight, at least one");
    }
    const double units = rounding_units(metric, columns);
    return visit_metric(metric, [&](auto kernel) {
        return search(rows, columns, weights, kernel, units, tolerance, context);
    });
}

}  // namespace corvane
