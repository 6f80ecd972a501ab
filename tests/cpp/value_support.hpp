#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "common/mst_edge.hpp"

namespace corvane::testing {

// Bitwise comparison, so that NaN values and signed zeros count too.
inline ::testing::AssertionResult same_bits(const std::vector<double>& a,
                                            const std::vector<double>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) {
            return ::testing::AssertionFailure()
                   << "position " << i << ": " << a[i] << " vs " << b[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// The edge weights in ascending order: trees that differ only in ties compare equal.
inline std::vector<double> sorted_weights(const std::vector<MstEdge>& edges) {
    std::vector<double> weights;
    weights.reserve(edges.size());
    for (const MstEdge& e : edges)
        weights.push_back(e.weight);
    std::sort(weights.begin(), weights.end());
    return weights;
}

// The summation order of every Euclidean distance, transcribed plainly: lane j % 4 sums
// the squared differences of columns j, j + 4, ... in order, and the lanes combine as
// (lane0 + lane1) + (lane2 + lane3).
inline double lane_order_squared_distance(const double* a, const double* b, std::size_t dims) {
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < dims; ++j)
        lane[j % 4] += (a[j] - b[j]) * (a[j] - b[j]);
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

}  // namespace corvane::testing
