#include <gtest/gtest.h>

#include <cstdint>
#include <new>

#include "common/data_matrix.hpp"
#include "common/memory_guard.hpp"
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
    EXPECT_LT(mst_working_bytes(MstRoute::PrimDense, n, 3, 5),
              mst_working_bytes(MstRoute::BoruvkaKdTree, n, 3, 5));
    EXPECT_GE(mst_working_bytes(MstRoute::BlockedBoruvka, n, 20, 5), n * 20 * 24);
    EXPECT_EQ(mst_working_bytes(MstRoute::BlockedBoruvka, SIZE_MAX / 2, 100, 5), SIZE_MAX);
}

}  // namespace
}  // namespace corvane
