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

}  // namespace corvane::testing
