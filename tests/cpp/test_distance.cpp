#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "common/internal_error.hpp"
#include "distance/distance.hpp"

namespace corvane {
namespace {

using Point = std::vector<double>;
constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

double distance(const Point& a, const Point& b, const Metric& metric) {
    return compute_distance(std::span<const double>(a), std::span<const double>(b), metric);
}

TEST(Distance, WorkedExamples) {
    const Point origin{0.0, 0.0};
    const Point p{3.0, 4.0};
    EXPECT_EQ(distance(origin, p, Metric::euclidean()), 5.0);
    EXPECT_EQ(distance(origin, p, Metric::manhattan()), 7.0);
    EXPECT_EQ(distance(origin, p, Metric::minkowski(1.0)), 7.0);
    EXPECT_EQ(distance(origin, p, Metric::minkowski(2.0)), 5.0);
    EXPECT_EQ(distance(origin, p, Metric::minkowski(infinity)), 4.0);
    EXPECT_EQ(distance(origin, p, Metric::minkowski(3.0)), std::pow(91.0, 1.0 / 3.0));

    EXPECT_EQ(distance({1, 0}, {0, 1}, Metric::cosine()), 1.0);
    EXPECT_EQ(distance({1, 0}, {-1, 0}, Metric::cosine()), 2.0);
    EXPECT_EQ(distance({0, 0}, {1, 2}, Metric::cosine()), 0.0);
    EXPECT_EQ(distance({}, {}, Metric::cosine()), 0.0);
    EXPECT_EQ(distance({}, {}, Metric::euclidean()), 0.0);
    // Parallel vectors whose rounded cosine is 1 + 2^-52: the clamp gives exactly 0.
    EXPECT_EQ(distance({1, 1, 1}, {2, 2, 2}, Metric::cosine()), 0.0);
    EXPECT_LT(distance({1, 1}, {2, 2}, Metric::cosine()), 1e-15);
    EXPECT_GE(distance({1, 1}, {2, 2}, Metric::cosine()), 0.0);

    // A NaN difference is skipped by Chebyshev and poisons the other sums.
    EXPECT_EQ(distance({nan_value, 1}, {0, 4}, Metric::minkowski(infinity)), 3.0);
    EXPECT_TRUE(std::isnan(distance({nan_value, 1}, {0, 4}, Metric::manhattan())));
    // Finite but huge coordinates overflow the cosine sums into NaN.
    EXPECT_TRUE(std::isnan(distance({1e200, 1e200}, {1e200, 2e200}, Metric::cosine())));
}

// Every Euclidean distance sums in one order: lane j % 4 takes the squared differences of
// columns j, j + 4, ..., and the lanes combine as (lane0 + lane1) + (lane2 + lane3). The
// values are chosen so that left-to-right summation and the other natural lane orders
// (a tail added to lane 0, lanes folded as (lane0 + lane2) + (lane1 + lane3)) round
// differently, for 11 columns and for 7.
TEST(Distance, EuclideanLaneOrder) {
    for (const Point& a :
         {Point{1000.0, 2.9, 1000.0, 3.1, 3.1, 1000.0, 1000.0, 1000.0, 1000.0, 1000.0, 1000.0},
          Point{0.6, 1000.0, 1000.0, 1.0, 1000.0, 0.3, 1000.0}}) {
        const Point zero(a.size(), 0.0);
        double lane[4] = {0.0, 0.0, 0.0, 0.0};
        double tail_in_lane0[4] = {0.0, 0.0, 0.0, 0.0};
        double left_to_right = 0.0;
        for (std::size_t j = 0; j < a.size(); ++j) {
            const double t = a[j] * a[j];
            lane[j % 4] += t;
            tail_in_lane0[j < a.size() - a.size() % 4 ? j % 4 : 0] += t;
            left_to_right += t;
        }
        const double expected = (lane[0] + lane[1]) + (lane[2] + lane[3]);
        ASSERT_NE(expected, left_to_right);
        ASSERT_NE(expected, (lane[0] + lane[2]) + (lane[1] + lane[3]));
        if (a.size() == 11) {
            ASSERT_NE(expected, (tail_in_lane0[0] + tail_in_lane0[1]) +
                                    (tail_in_lane0[2] + tail_in_lane0[3]));
        }
        EXPECT_EQ(distance(a, zero, Metric::euclidean()), std::sqrt(expected));
        EXPECT_EQ(distance(zero, a, Metric::minkowski(2.0)), std::sqrt(expected));
        EXPECT_EQ(
            squared_euclidean_distance(std::span<const double>(a), std::span<const double>(zero)),
            expected);
        EXPECT_EQ(squared_distance(a.data(), zero.data(), a.size()), expected);
    }
    // Up to three columns the order is the plain left-to-right sum.
    const Point three{0.1, 1e8, 0.7};
    EXPECT_EQ(squared_distance(three.data(), Point(3, 0.0).data(), 3),
              (0.1 * 0.1 + 1e8 * 1e8) + 0.7 * 0.7);
}

TEST(Distance, StridedPoints) {
    // Columns of a 3 x 2 row-major block: stride 2.
    const double block[] = {1.0, 10.0, 4.0, 20.0, -2.0, 40.0};
    const PointView column0(block, 3, 2);
    const PointView column1(block + 1, 3, 2);
    EXPECT_EQ(compute_distance(column0, column1, Metric::manhattan()), 9.0 + 16.0 + 42.0);
    EXPECT_EQ(compute_distance(column0, column1, Metric::minkowski(infinity)), 42.0);
    EXPECT_EQ(compute_distance(column0, column1, Metric::minkowski(3.0)),
              std::pow(std::pow(9.0, 3.0) + std::pow(16.0, 3.0) + std::pow(42.0, 3.0), 1.0 / 3.0));
    // Euclidean refuses strided points of two coordinates or more, never reading them strided.
    EXPECT_THROW(compute_distance(column0, column1, Metric::euclidean()), InternalError);
    EXPECT_THROW(compute_distance(column0, column1, Metric::minkowski(2.0)), InternalError);
    EXPECT_EQ(euclidean_distance(PointView(block, 1, 2), PointView(block + 1, 1, 2)), 9.0);
    // It takes its length from the first point and refuses a shorter second one.
    EXPECT_THROW(euclidean_distance(PointView(block, 3), PointView(block, 2)), InternalError);
}

TEST(Distance, PrecomputedIsAnInternalError) {
    try {
        distance({1.0}, {2.0}, Metric::precomputed());
        FAIL() << "expected InternalError";
    } catch (const InternalError& error) {
        EXPECT_STREQ(error.what(), "compute_distance should not be called with Precomputed metric");
    }
}

// Minkowski with p = 1, 2 and infinity must take exactly the same arithmetic
// as the dedicated metrics, and every metric must be exactly symmetric: the
// MST routes rely on d(i, j) and d(j, i) being the same bits.
TEST(Distance, ExponentShortcutsAndSymmetry) {
    const unsigned seed = 20240604;
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, 10.0);
    const std::vector<Metric> metrics{Metric::euclidean(), Metric::manhattan(), Metric::cosine(),
                                      Metric::minkowski(1.5), Metric::minkowski(infinity)};
    for (std::size_t dims : {1, 3, 7, 8, 13}) {
        for (int trial = 0; trial < 20; ++trial) {
            Point a(dims);
            Point b(dims);
            for (std::size_t i = 0; i < dims; ++i) {
                a[i] = normal(rng);
                b[i] = normal(rng);
            }
            SCOPED_TRACE(testing::Message() << "seed " << seed << " dims " << dims);
            EXPECT_EQ(distance(a, b, Metric::minkowski(1.0)), distance(a, b, Metric::manhattan()));
            EXPECT_EQ(distance(a, b, Metric::minkowski(2.0)), distance(a, b, Metric::euclidean()));
            for (const Metric& metric : metrics)
                EXPECT_EQ(distance(a, b, metric), distance(b, a, metric));
        }
    }
}

}  // namespace
}  // namespace corvane
