#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "core_distance/blocked_core_distances.hpp"
#include "core_distance/core_distance.hpp"
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

TEST(BlockedCoreDistances, SameAsTheTreeSearch) {
    unsigned seed = 0;
    for (const std::size_t dims : {1, 7, 20, 70}) {
        for (int kind = 0; kind < 4; ++kind) {
            ++seed;
            const std::size_t n = 300 + 97 * seed;
            const DataMatrix m = test_matrix(n, dims, seed, kind);
            const BallTree tree = BallTree::build(m);
            const BlockTree blocks = BlockTree::build(m, 2);
            for (const std::size_t k : {1, 5, 17}) {
                const CoreDistanceResult expected = tree_core_distances(m, tree, k, false, 1);
                for (const std::size_t threads : {1, 2, 3}) {
                    const CoreDistanceResult got = blocked_core_distances(blocks, k, true, threads);
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
TEST(BlockedBoruvka, SameWeightsAsDensePrim) {
    unsigned seed = 100;
    for (const std::size_t dims : {3, 24, 130}) {
        for (int kind = 0; kind < 4; ++kind) {
            ++seed;
            const std::size_t n = 150 + 131 * (seed % 5);
            const DataMatrix m = test_matrix(n, dims, seed, kind);
            const BlockTree tree = BlockTree::build(m, 2);
            for (const auto& [k, alpha] :
                 {std::pair{1, 1.0}, std::pair{4, 1.0}, std::pair{6, 0.7}}) {
                SCOPED_TRACE(::testing::Message() << "seed " << seed << " dims " << dims << " k "
                                                  << k << " alpha " << alpha);
                const MstResult dense = prim_dense_mst(m, Metric::euclidean(), k, alpha, 1);
                std::vector<MstEdge> first;
                for (const std::size_t threads : {1, 2}) {
                    CoreDistanceResult core = blocked_core_distances(tree, k, true, threads);
                    EXPECT_TRUE(same_bits(core.core_distances, dense.core_distances));
                    const std::vector<MstEdge> edges =
                        blocked_boruvka(tree, core.core_distances, std::move(core.neighbors), k - 1,
                                        alpha, threads);
                    EXPECT_TRUE(same_bits(testing::sorted_weights(edges),
                                          testing::sorted_weights(dense.edges)));
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
    }
}

}  // namespace
}  // namespace corvane
