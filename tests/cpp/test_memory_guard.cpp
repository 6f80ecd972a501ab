#include <gtest/gtest.h>

#include <cstdint>
#include <new>

#include "common/data_matrix.hpp"
#include "common/memory_guard.hpp"
#include "hdbscan/fit_model.hpp"
#include "mst/mst_route.hpp"

namespace corvane {
namespace {

TEST(MemoryGuard, RefusesWhatCannotFitAndPassesSmallRequests) {
    const auto available = available_memory_bytes();
    ASSERT_TRUE(available.has_value());
    EXPECT_GT(*available, 0u);
    EXPECT_NO_THROW(require_memory(1024));
    EXPECT_NO_THROW(require_memory(*available / 4));
    EXPECT_THROW(require_memory(*available + (std::size_t{1} << 30)), std::bad_alloc);
    EXPECT_THROW(require_memory(SIZE_MAX), std::bad_alloc);
    // A matrix larger than memory fails before it is allocated.
    EXPECT_THROW(DataMatrix(std::size_t{1} << 40, 4), std::bad_alloc);
    EXPECT_THROW(DataMatrix(SIZE_MAX / 2, 3), std::bad_alloc);
}

TEST(MemoryGuard, RouteEstimatesGrowWithTheRouteAndSaturate) {
    const std::size_t n = 1000000;
    // A tree route holds the rows in tree order besides.
    EXPECT_LT(mst_working_bytes(MstRoute::PrimDense, n, 3, 5),
              mst_working_bytes(MstRoute::PrimKdTreeCore, n, 3, 5));
    EXPECT_GE(mst_working_bytes(MstRoute::BlockedBoruvka, n, 20, 5), n * 20 * 24);
    EXPECT_EQ(mst_working_bytes(MstRoute::BlockedBoruvka, SIZE_MAX / 2, 100, 5), SIZE_MAX);
}

// The estimate against the footprint measured with benchmarks/run.py --scale: never below
// it (a fit the guard lets through must not be killed for lack of memory), and not so far
// above it that the guard refuses what fits: 10^8 planar points with the copy of their
// rows fit on a machine of 24 GiB.
TEST(MemoryGuard, FitEstimateFollowsTheMeasuredFootprint) {
    HdbscanParams params;
    params.min_cluster_size = 10;
    params.min_samples = 10;
    // Beyond the rows and their copy: 96 bytes at 10^7 points; 10^8 points take about 12
    // more per point than 10^7.
    constexpr std::size_t measured_per_point = 110;
    for (const std::size_t n : {std::size_t{10'000'000}, std::size_t{100'000'000}}) {
        const std::size_t estimate = fit_working_bytes(params, n, 2);
        EXPECT_GE(estimate, measured_per_point * n) << n;
        EXPECT_LE(estimate + 2 * n * 2 * sizeof(double), std::size_t{22} << 30) << n;
    }
    // Both sides of the guard's line, for the rows as they come.
    params.min_samples.reset();
    EXPECT_LT(fit_working_bytes(params, 1000, 2), std::size_t{64} << 20);
    EXPECT_GT(fit_working_bytes(params, std::size_t{1} << 29, 1), std::size_t{32} << 30);
    EXPECT_EQ(fit_working_bytes(params, SIZE_MAX / 4, 3), SIZE_MAX);
}

}  // namespace
}  // namespace corvane
