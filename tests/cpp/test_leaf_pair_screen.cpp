#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "distance/euclidean/squared_distance.hpp"
#include "mst/dual_tree_boruvka/leaf_pair_screen.hpp"
#include "mst/mutual_reachability.hpp"

namespace corvane {
namespace {

// The pair rule of the dual-tree base case, as the search states it: different
// components, and a weight that improves p's entry (within its shared bound) or x's.
bool pair_can_matter(const double* row_p, double core_p, std::uint64_t cp, double own,
                     double shared, const double* row_x, double core_x, std::uint64_t cx,
                     double other, std::size_t dims) {
    if (cp == cx) return false;
    const double d = squared_distance(row_p, row_x, dims);
    const double w = max_ignoring_nan(max_ignoring_nan(core_x, core_p), d);
    return (w < own && w <= shared) || w < other;
}

// Random leaves full of exact ties: coordinates on a coarse grid with copied rows, core
// terms from a few values (NaN among them), few components, and thresholds that are
// mostly weights of actual pairs, so that every comparison meets equal operands. The
// screen must let through exactly the pairs of the rule, at every width and leaf size,
// and nothing from the padding, in each instruction-set copy the machine runs.
TEST(LeafPairScreen, LetsThroughExactlyThePairsThatCanMatter) {
    std::mt19937_64 rng(2024);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double cores[] = {0.0, 1.0, 2.0, 4.0, nan};
    std::size_t let_through = 0;
    std::size_t kept_out = 0;
    for (std::size_t trial = 0; trial < 600; ++trial) {
        const std::size_t dims = 1 + trial % SCREEN_MAX_DIMS;
        const std::size_t count = 1 + rng() % SCREEN_MAX_ROWS;
        const std::size_t queries = 1 + rng() % SCREEN_MAX_ROWS;
        const bool grid = trial % 3 != 0;
        const auto coordinate = [&] {
            return grid ? static_cast<double>(rng() % 3)
                        : std::uniform_real_distribution<double>(-2.0, 2.0)(rng);
        };
        std::vector<double> rows((count + queries) * dims);
        for (double& v : rows)
            v = coordinate();
        // Copies: query rows that repeat leaf rows, at zero distance.
        for (std::size_t t = 0; t < queries; t += 3) {
            const std::size_t from = rng() % count;
            for (std::size_t c = 0; c < dims; ++c)
                rows[(count + t) * dims + c] = rows[from * dims + c];
        }
        const auto row = [&](std::size_t i) { return rows.data() + i * dims; };
        std::vector<double> core(count + queries);
        std::vector<std::uint64_t> component(count + queries);
        for (std::size_t i = 0; i < core.size(); ++i) {
            core[i] = cores[rng() % 5];
            component[i] = rng() % 3;
        }
        // A threshold: the weight of some pair, or a plain value, or infinity.
        const auto threshold = [&] {
            const std::size_t pick = rng() % 4;
            if (pick == 0) return std::numeric_limits<double>::infinity();
            if (pick == 1) return static_cast<double>(rng() % 6);
            const std::size_t a = rng() % core.size();
            const std::size_t b = rng() % core.size();
            return max_ignoring_nan(max_ignoring_nan(core[a], core[b]),
                                    squared_distance(row(a), row(b), dims));
        };

        ScreenLeaf leaf;
        // Padding left from an earlier leaf must not leak into the masks.
        for (std::size_t j = 0; j < SCREEN_MAX_ROWS; ++j) {
            for (std::size_t c = 0; c < SCREEN_MAX_DIMS; ++c)
                leaf.columns[c][j] = 0.0;
            leaf.core[j] = -1.0;
            leaf.other[j] = std::numeric_limits<double>::infinity();
            leaf.component[j] = 99;
        }
        leaf.count = count;
        std::vector<double> other(count);
        for (std::size_t j = 0; j < count; ++j) {
            for (std::size_t c = 0; c < dims; ++c)
                leaf.columns[c][j] = row(j)[c];
            leaf.core[j] = screen_core(core[j]);
            other[j] = threshold();
            leaf.other[j] = other[j];
            leaf.component[j] = component[j];
        }
        leaf.pad(dims);
        std::vector<ScreenQuery> listed(queries);
        for (std::size_t t = 0; t < queries; ++t) {
            const std::size_t p = count + t;
            listed[t] = {row(p), screen_core(core[p]), component[p], threshold(), threshold()};
        }
        std::vector<std::uint64_t> masks(queries);
        screen_leaf_pairs(leaf, dims, listed.data(), queries, masks.data());
        // Every instruction-set copy agrees with the one in use.
        for (const ScreenKernel kernel : screen_kernels()) {
            std::vector<std::uint64_t> copy(queries);
            kernel(leaf, dims, listed.data(), queries, copy.data());
            ASSERT_EQ(copy, masks) << "trial " << trial << " dims " << dims;
        }

        for (std::size_t t = 0; t < queries; ++t) {
            const std::size_t p = count + t;
            for (std::size_t j = 0; j < SCREEN_MAX_ROWS; ++j) {
                const bool expected =
                    j < count &&
                    pair_can_matter(row(p), core[p], component[p], listed[t].own, listed[t].shared,
                                    row(j), core[j], component[j], other[j], dims);
                ASSERT_EQ((masks[t] >> j) & 1, expected ? 1u : 0u)
                    << "trial " << trial << " dims " << dims << " query " << t << " row " << j;
                (expected ? let_through : kept_out) += j < count ? 1 : 0;
            }
        }
    }
    // Both outcomes are common, so neither answer passes by default.
    EXPECT_GT(let_through, 10000u);
    EXPECT_GT(kept_out, 10000u);
}

}  // namespace
}  // namespace corvane
