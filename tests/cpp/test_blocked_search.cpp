#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "core_distance/blocked_core_distances.hpp"
#include "core_distance/core_distance.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "gram_screen/gram_screen.hpp"
#include "mst/blocked_boruvka/blocked_boruvka.hpp"
#include "mst/prim/prim.hpp"
#include "tree_support.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::random_matrix;
using testing::same_bits;

// Blobs far from the origin, or integer grids (many exact ties), or rows repeated.
DataMatrix test_matrix(std::size_t n, std::size_t dims, unsigned seed, int kind) {
    if (kind == 1) return random_matrix(n, dims, seed, 3);
    DataMatrix m = random_matrix(n, dims, seed);
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> offset(0.0, 1e4);
    const double shift = kind == 2 ? 1e9 : offset(rng);
    for (double& v : m.values)
        v += shift;
    if (kind == 3) {
        for (std::size_t i = n / 2; i < n; ++i) {
            for (std::size_t c = 0; c < dims; ++c)
                m.at(i, c) = m.at(i - n / 2, c);
        }
    }
    return m;
}

// The screen's rounding bound on adversarial rows: for every pair, a threshold equal to the
// pair's exact squared distance must leave it open (L <= S), and lowering thresholds by
// upper bounds must never go below the smallest exact distance of a row (U >= S).
TEST(GramScreen, BoundsHoldOnAdversarialRows) {
    std::mt19937_64 rng(4711);
    std::normal_distribution<double> normal;
    const auto make = [&](int kind, std::size_t dims) {
        std::vector<double> rows(256 * dims);
        for (std::size_t i = 0; i < 256; ++i) {
            for (std::size_t c = 0; c < dims; ++c) {
                double& v = rows[i * dims + c];
                switch (kind) {
                    case 0:  // a huge common offset over a tiny spread
                        v = 1e8 + normal(rng) * 1e-3;
                        break;
                    case 1:  // one huge coordinate per row, the rest small
                        v = c == i % dims ? 1e8 * normal(rng) : normal(rng);
                        break;
                    case 2:  // an integer grid: many exactly equal distances
                        v = static_cast<double>(rng() % 3);
                        break;
                    case 3:  // pairs one unit in the last place apart
                        v = i % 2 == 0 ? normal(rng)
                                       : std::nextafter(rows[(i - 1) * dims + c], 10.0);
                        break;
                    default:  // magnitudes from 1e-300 to 1: squares underflow
                        v = normal(rng) * std::pow(10.0, -300.0 * static_cast<double>(rng() % 2));
                }
            }
        }
        return rows;
    };
    for (int kind = 0; kind < 5; ++kind) {
        for (const std::size_t dims : {3, 37, 1000}) {
            const std::vector<double> rows = make(kind, dims);
            const std::vector<std::size_t> starts{0, 128};
            const GramScreen screen = GramScreen::build(rows, dims, starts);
            ScreenScratch scratch;
            const BlockPair pair{&screen, 0, 0, 128, &screen, 1, 128, 128};
            std::vector<double> exact(128 * 128);
            for (std::size_t i = 0; i < 128; ++i) {
                for (std::size_t j = 0; j < 128; ++j) {
                    exact[i * 128 + j] =
                        squared_distance(&rows[i * dims], &rows[(128 + j) * dims], dims);
                }
            }
            std::size_t missed = 0;
            for (std::size_t j = 0; j < 128; ++j) {
                std::vector<double> threshold(128);
                for (std::size_t i = 0; i < 128; ++i)
                    threshold[i] = exact[i * 128 + j];
                const std::size_t open = screen_block_pair(pair, threshold, scratch);
                std::vector<char> is_open(128 * 128, 0);
                for (std::size_t t = 0; t < open; ++t) {
                    is_open[scratch.open[t].query * 128 + scratch.open[t].reference] = 1;
                }
                for (std::size_t i = 0; i < 128; ++i)
                    missed += is_open[i * 128 + j] == 0 ? 1 : 0;
            }
            EXPECT_EQ(missed, 0u) << "kind " << kind << " dims " << dims;

            std::vector<double> lowered(128, std::numeric_limits<double>::infinity());
            std::vector<double> reference_threshold(128, -std::numeric_limits<double>::infinity());
            const std::vector<std::size_t> query_group(128, 0), reference_group(128, 1);
            const std::vector<double> no_floor(128, 0.0);
            block_dots(pair, scratch);
            screen_grouped_pair(pair, {lowered, query_group, no_floor},
                                {reference_threshold, reference_group, no_floor}, true, scratch, 0);
            for (std::size_t i = 0; i < 128; ++i) {
                const double smallest =
                    *std::min_element(exact.begin() + i * 128, exact.begin() + (i + 1) * 128);
                EXPECT_GE(lowered[i], smallest)
                    << "kind " << kind << " dims " << dims << " row " << i;
            }
        }
    }
}

TEST(BlockedCoreDistances, SameAsTheTreeSearch) {
    unsigned seed = 0;
    for (const std::size_t dims : {1, 7, 20, 70}) {
        for (int kind = 0; kind < 4; ++kind) {
            ++seed;
            const std::size_t n = 300 + 97 * seed;
            const DataMatrix m = test_matrix(n, dims, seed, kind);
            const BallTree tree = BallTree::build(m);
            const BlockTree blocks = BlockTree::build(m, ExecutionContext(2));
            for (const std::size_t k : {1, 5, 17}) {
                const CoreDistanceResult expected =
                    tree_core_distances(m, tree, k, false, ExecutionContext(1));
                for (const std::size_t threads : {1, 2, 3}) {
                    const CoreDistanceResult got =
                        blocked_core_distances(blocks, k, true, ExecutionContext(threads));
                    EXPECT_TRUE(same_bits(got.core_distances, expected.core_distances))
                        << "seed " << seed << " dims " << dims << " k " << k << " threads "
                        << threads;
                }
            }
        }
    }
}

// The blocked Boruvka against dense Prim with the exact distance: the same core distances
// and, since every minimum spanning tree has the same sorted weights, the same weights bit
// for bit, ties in the data included; the edges themselves do not depend on the threads.
void expect_same_weights_as_dense_prim(const DataMatrix& m) {
    const BlockTree tree = BlockTree::build(m, ExecutionContext(2));
    for (const auto& [k, alpha] : {std::pair{1, 1.0}, std::pair{4, 1.0}, std::pair{6, 0.7}}) {
        SCOPED_TRACE(::testing::Message() << "k " << k << " alpha " << alpha);
        const MstResult dense =
            prim_dense_mst(m, Metric::euclidean(), k, alpha, ExecutionContext(1));
        std::vector<MstEdge> first;
        for (const std::size_t threads : {1, 2}) {
            const ExecutionContext context(threads);
            CoreDistanceResult core = blocked_core_distances(tree, k, true, context);
            EXPECT_TRUE(same_bits(core.core_distances, dense.core_distances));
            const std::vector<MstEdge> edges = blocked_boruvka(
                tree, core.core_distances, std::move(core.neighbors), k - 1, alpha, context);
            EXPECT_TRUE(
                same_bits(testing::sorted_weights(edges), testing::sorted_weights(dense.edges)));
            if (threads == 1) {
                first = edges;
            } else {
                ASSERT_EQ(edges.size(), first.size());
                for (std::size_t e = 0; e < edges.size(); ++e) {
                    EXPECT_EQ(edges[e].a, first[e].a);
                    EXPECT_EQ(edges[e].b, first[e].b);
                }
            }
        }
    }
}

TEST(BlockedBoruvka, SameWeightsAsDensePrim) {
    unsigned seed = 100;
    for (const std::size_t dims : {3, 24, 130}) {
        for (int kind = 0; kind < 4; ++kind) {
            ++seed;
            const std::size_t n = 150 + 131 * (seed % 5);
            SCOPED_TRACE(::testing::Message() << "seed " << seed << " dims " << dims);
            expect_same_weights_as_dense_prim(test_matrix(n, dims, seed, kind));
        }
    }
}

// Wide data whose components soon fill whole blocks, so that the last pass over every
// component pair meets blocks of one component as well as blocks that span several:
// groups of identical rows at points of an integer grid (every pair of rows of two groups
// ties, and so do many group distances) and scattered integer rows between them.
TEST(BlockedBoruvka, SameWeightsAsDensePrimWhenComponentsFillBlocks) {
    const std::size_t dims = 80;
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int> level(0, 2);
    std::vector<double> values;
    for (std::size_t group = 0; group < 10; ++group) {
        std::vector<double> row(dims);
        for (double& v : row)
            v = 10.0 * level(rng);
        for (std::size_t copy = 0; copy < 90 + 7 * group; ++copy)
            values.insert(values.end(), row.begin(), row.end());
    }
    for (std::size_t i = 0; i < 60 * dims; ++i)
        values.push_back(5.0 * level(rng));
    expect_same_weights_as_dense_prim(testing::matrix_from(dims, values));
}

}  // namespace
}  // namespace corvane
