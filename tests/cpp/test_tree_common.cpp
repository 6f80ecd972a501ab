#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "distance/euclidean/squared_distance.hpp"
#include "tree_common/tree_shape.hpp"

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

std::size_t counted_nodes(std::size_t count, std::size_t leaf_size) {
    if (count <= leaf_size) return 1;
    return 1 + counted_nodes(count / 2, leaf_size) + counted_nodes(count - count / 2, leaf_size);
}

TEST(TreeNodeCount, MatchesRecursiveCount) {
    EXPECT_EQ(tree_node_count(0, 10), 0u);
    EXPECT_EQ(tree_node_count(10, 10), 1u);
    EXPECT_EQ(tree_node_count(11, 10), 3u);
    EXPECT_EQ(tree_node_count(21, 10), 5u);  // 10 and 11 -> 5 + 6
    for (const std::size_t leaf : {1, 2, 10, 20, 40}) {
        for (std::size_t count = 1; count < 3000; ++count) {
            ASSERT_EQ(tree_node_count(count, leaf), counted_nodes(count, leaf))
                << count << " rows, leaves of " << leaf;
        }
    }
    EXPECT_EQ(tree_node_count(1000003, 10), counted_nodes(1000003, 10));
}

}  // namespace
}  // namespace corvane
