#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "tree_common/squared_distance.hpp"

namespace corvane {
namespace {

// The early stop is only allowed to change results that the caller rejects anyway: at a
// bound equal to the full distance the value returned still reaches the bound, and just
// above it the full distance comes back bit for bit.
TEST(SquaredDistance, StopsEarlyOnlyAtOrAboveTheBound) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 3.0);
    for (std::size_t dims = 0; dims <= 41; ++dims) {
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<double> a(dims), b(dims);
            for (std::size_t j = 0; j < dims; ++j) {
                a[j] = normal(rng);
                b[j] = normal(rng);
            }
            const double full = squared_distance(a.data(), b.data(), dims);
            const double above = std::nextafter(full, std::numeric_limits<double>::infinity());
            EXPECT_EQ(squared_distance(a.data(), b.data(), dims, above), full)
                << "dims " << dims << " trial " << trial;
            EXPECT_GE(squared_distance(a.data(), b.data(), dims, full), full)
                << "dims " << dims << " trial " << trial;
            EXPECT_GE(squared_distance(a.data(), b.data(), dims, full / 4), full / 4);
        }
    }
    const double a[3] = {1.0, 2.0, 3.0};
    const double b[3] = {4.0, 6.0, 3.0};
    EXPECT_EQ(squared_distance<3>(a, b, 3), 25.0);
    EXPECT_EQ(squared_distance<0>(a, b, 0), 0.0);
}

}  // namespace
}  // namespace corvane
