#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hdbscan/input_validation.hpp"
#include "model/magnitude_scaling.hpp"
#include "mst/mst_route.hpp"

namespace corvane {
namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

DataMatrix filled(std::size_t rows, std::size_t cols, double value) {
    DataMatrix m(rows, cols);
    for (double& v : m.values)
        v = value;
    return m;
}

ErrorKind kind_of(const HdbscanParams& params, const DataMatrix& m) {
    auto error = validate_fit_input(params, m);
    EXPECT_TRUE(error.has_value());
    return error ? error->kind : ErrorKind::EmptyInput;
}

TEST(FitValidation, OrderOfChecks) {
    HdbscanParams params;
    params.min_cluster_size = 1;
    DataMatrix empty(0, 3);
    EXPECT_EQ(kind_of(params, empty), ErrorKind::MinClusterSizeTooSmall);
    params.min_cluster_size = 5;
    EXPECT_EQ(kind_of(params, empty), ErrorKind::EmptyInput);

    DataMatrix small = filled(3, 2, 1.0);
    small.at(2, 1) = nan;
    EXPECT_EQ(kind_of(params, small), ErrorKind::NonFiniteInput);  // before the point count
    small.at(2, 1) = 1.0;
    const auto exceeds = validate_fit_input(params, small);
    ASSERT_TRUE(exceeds);
    EXPECT_EQ(exceeds->message(), "min_samples (5) exceeds number of points (3)");
    params.min_samples = 3;
    EXPECT_FALSE(validate_fit_input(params, small));
    small.at(0, 0) = -inf;
    EXPECT_EQ(kind_of(params, small), ErrorKind::NonFiniteInput);
}

TEST(FitValidation, PrecomputedScanFirstOffenderDecides) {
    HdbscanParams params;
    params.metric = Metric::precomputed();
    params.min_samples = 1;
    const auto not_square = validate_fit_input(params, filled(3, 4, 1.0));
    ASSERT_TRUE(not_square);
    EXPECT_EQ(not_square->message(), "precomputed distance matrix must be square, got 3x4");

    DataMatrix m = filled(4, 4, 1.0);
    m.at(1, 2) = -1.0;
    m.at(3, 0) = nan;
    EXPECT_EQ(kind_of(params, m), ErrorKind::PrecomputedNegative);
    m.at(1, 2) = nan;
    m.at(3, 0) = -1.0;
    EXPECT_EQ(kind_of(params, m), ErrorKind::NonFiniteInput);
    m.at(1, 2) = -0.0;
    m.at(3, 0) = 0.0;
    EXPECT_FALSE(validate_fit_input(params, m));

    // Negative values are data, not an error, under computed metrics.
    params.metric = Metric::manhattan();
    EXPECT_FALSE(validate_fit_input(params, filled(4, 2, -7.0)));
}

TEST(MagnitudeShift, OrdinaryDataIsNeverShifted) {
    for (double value : {1.0, 1e-150, 1e150, 0.0, -3.0, 0x1p500, 0x1p-500}) {
        EXPECT_EQ(magnitude_shift(filled(3, 2, value), Metric::euclidean()), 0) << value;
    }
    EXPECT_EQ(magnitude_shift(filled(3, 2, 1e300), Metric::precomputed()), 0);
    EXPECT_EQ(magnitude_shift(DataMatrix(0, 4), Metric::euclidean()), 0);
}

TEST(MagnitudeShift, ExtremeDataIsBroughtNearOne) {
    for (double value : {1e300, -1e-300, 0x1p501, 4.9e-324, 1.7e308}) {
        DataMatrix m = filled(2, 3, value);
        m.at(0, 0) = value / 4.0;
        const int shift = magnitude_shift(m, Metric::cosine());
        ASSERT_NE(shift, 0) << value;
        apply_shift(m, shift);
        EXPECT_GE(std::fabs(m.at(1, 1)), 1.0) << value;
        EXPECT_LT(std::fabs(m.at(1, 1)), 2.0) << value;
        EXPECT_EQ(std::ldexp(m.at(1, 1), -shift), value) << "the shift must be exact";
    }
}

TEST(MagnitudeShift, LargeMinkowskiExponentsNarrowTheRange) {
    const DataMatrix m = filled(2, 2, 1e4);
    EXPECT_EQ(magnitude_shift(m, Metric::minkowski(2.0)), 0);
    EXPECT_EQ(magnitude_shift(m, Metric::minkowski(inf)), 0);
    EXPECT_NE(magnitude_shift(m, Metric::minkowski(100.0)), 0);
}

TEST(MstRoute, ThresholdsAndTreeSwitches) {
    const Metric e = Metric::euclidean();
    EXPECT_EQ(choose_mst_route(e, 500, 4, 1.0), MstRoute::PrimKdTreeCore);
    EXPECT_EQ(choose_mst_route(e, 501, 4, 1.0), MstRoute::BoruvkaKdTree);
    EXPECT_EQ(choose_mst_route(e, 4000, 5, 1.0), MstRoute::PrimKdTreeCore);
    EXPECT_EQ(choose_mst_route(e, 4001, 5, 1.0), MstRoute::BoruvkaKdTree);
    EXPECT_EQ(choose_mst_route(e, 4001, 16, 1.0), MstRoute::BoruvkaKdTree);
    EXPECT_EQ(choose_mst_route(e, 4000, 11, 0.5), MstRoute::PrimBallTreeCore);
    EXPECT_EQ(choose_mst_route(e, 4000, 10, 0.5), MstRoute::PrimKdTreeCore);
    EXPECT_EQ(choose_mst_route(e, 100, 16, 1.0), MstRoute::PrimBallTreeCore);
    for (const std::size_t n : {1, 100, 8000, 8001, 1000000}) {
        for (const std::size_t d : {17, 64, 65, 600}) {
            EXPECT_EQ(choose_mst_route(e, n, d, 1.0), MstRoute::BlockedBoruvka);
            EXPECT_EQ(choose_mst_route(e, n, d, 0.5), MstRoute::BlockedBoruvka);
        }
    }
}

TEST(MstRoute, OtherMetricsAndNoColumns) {
    for (Metric m :
         {Metric::manhattan(), Metric::cosine(), Metric::minkowski(2.0), Metric::minkowski(inf)}) {
        EXPECT_EQ(choose_mst_route(m, 1000000, 2, 1.0), MstRoute::PrimDense);
        EXPECT_EQ(choose_mst_route(m, 1000000, 0, 1.0), MstRoute::NoColumns);
    }
    EXPECT_EQ(choose_mst_route(Metric::precomputed(), 5000, 5000, 1.0), MstRoute::PrimDense);
    EXPECT_EQ(choose_mst_route(Metric::euclidean(), 100000, 0, 1.0), MstRoute::NoColumns);
}

}  // namespace
}  // namespace corvane
