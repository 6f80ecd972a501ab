#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "common/internal_error.hpp"
#include "core_distance/core_distance.hpp"
#include "core_distance/group_core_distances.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "tree_support.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::same_bits;

// The rows of row i's list, ascending.
std::vector<NeighbourRow> listed_rows(const CoreDistanceResult& result, std::size_t k,
                                      std::size_t i) {
    const auto first = result.neighbors.begin() + static_cast<long>(i * (k - 1));
    std::vector<NeighbourRow> rows(first, first + static_cast<long>(k - 1));
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The grouped search against the one-row-at-a-time search: the same core distances bit for
// bit and lists naming the same rows, also where another row ties the k-th distance; so
// the spanning tree seeded from them is the same too. Every instruction-set
// copy of the walk the machine runs.
void expect_matches_single_row_search(const DataMatrix& m, std::size_t k,
                                      const std::string& label) {
    SCOPED_TRACE(label);
    const KdTree tree = KdTree::build(m);
    CoreDistanceResult oracle = tree_core_distances(m, tree, k, true, ExecutionContext(1));
    const std::vector<MstEdge> expected = dual_tree_boruvka(
        tree, oracle.core_distances, oracle.neighbors, k - 1, 1.0, ExecutionContext(1));
    for (std::size_t level = 0; level < group_walk_levels(); ++level) {
        SCOPED_TRACE(::testing::Message() << "level " << level);
        CoreDistanceResult grouped =
            kd_group_core_distances_at_level(tree, k, true, ExecutionContext(2), level);
        ASSERT_TRUE(same_bits(oracle.core_distances, grouped.core_distances));
        ASSERT_EQ(grouped.neighbors.size(), m.rows * (k - 1));
        for (std::size_t i = 0; i < m.rows; ++i) {
            ASSERT_EQ(listed_rows(grouped, k, i), listed_rows(oracle, k, i)) << "row " << i;
        }
        EXPECT_EQ(dual_tree_boruvka(tree, grouped.core_distances, std::move(grouped.neighbors),
                                    k - 1, 1.0, ExecutionContext(1)),
                  expected);
    }
}

DataMatrix lattice(std::size_t side, std::size_t dims) {
    std::size_t n = 1;
    for (std::size_t j = 0; j < dims; ++j)
        n *= side;
    DataMatrix m(n, dims);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t rest = i;
        for (std::size_t j = 0; j < dims; ++j, rest /= side)
            m.values[i * dims + j] = static_cast<double>(rest % side);
    }
    return m;
}

TEST(GroupCoreDistances, MatchesSingleRowSearchForEveryColumnCount) {
    for (std::size_t dims = 1; dims <= KdTree::UNROLLED_DIMS; ++dims) {
        const std::size_t k = 2 + dims % 9;
        expect_matches_single_row_search(testing::random_matrix(900, dims, unsigned(dims)), k,
                                         "uniform, " + std::to_string(dims) + " columns");
    }
}

// Exact ties decide which rows a heap keeps: duplicates, integer values and lattices, with
// k from 1 to beyond a leaf and a group.
TEST(GroupCoreDistances, MatchesSingleRowSearchOnExactTies) {
    for (const std::size_t dims : {2u, 3u, 5u, 8u}) {
        for (const std::size_t k : {1u, 4u, 10u, 31u}) {
            expect_matches_single_row_search(
                testing::random_matrix(1200, dims, unsigned(dims * 100 + k), 3), k,
                "three levels, " + std::to_string(dims) + " columns, k " + std::to_string(k));
        }
    }
    expect_matches_single_row_search(lattice(30, 2), 9, "30 x 30 lattice");
    expect_matches_single_row_search(lattice(9, 3), 27, "9 x 9 x 9 lattice");
    expect_matches_single_row_search(lattice(4, 5), 45, "4^5 lattice");
    expect_matches_single_row_search(testing::matrix_from(3, std::vector<double>(3 * 200, -2.5)),
                                     12, "200 identical rows");
}

// Lists by tree position name the same points in the same order as lists by input row,
// on every instruction-set copy and thread count, and seed the same spanning tree; with
// exact ties, where rows go to the one-row search, whose heap names input rows.
TEST(GroupCoreDistances, ListsByTreePositionAreListsByRowRenamed) {
    struct Case {
        DataMatrix m;
        std::size_t k;
    };
    const Case cases[] = {{testing::random_matrix(3000, 2, 71), 10},
                          {testing::random_matrix(2000, 5, 72, 3), 7},
                          {lattice(40, 2), 9},
                          {lattice(7, 3), 12}};
    for (const Case& c : cases) {
        const KdTree tree = KdTree::build(c.m);
        const std::size_t width = c.k - 1;
        const CoreDistanceResult by_row =
            kd_group_core_distances(tree, c.k, true, ExecutionContext(1));
        const std::vector<MstEdge> expected = dual_tree_boruvka(
            tree, by_row.core_distances, by_row.neighbors, width, 1.0, ExecutionContext(1));
        for (std::size_t level = 0; level < group_walk_levels(); ++level) {
            for (const std::size_t threads : {1u, 2u}) {
                SCOPED_TRACE(::testing::Message() << c.m.rows << " rows, level " << level << ", "
                                                  << threads << " threads");
                CoreDistanceResult by_position = kd_group_core_distances_at_level(
                    tree, c.k, true, ExecutionContext(threads), level, ListNaming::tree_positions);
                ASSERT_EQ(by_position.neighbor_naming, ListNaming::tree_positions);
                ASSERT_TRUE(same_bits(by_row.core_distances, by_position.core_distances));
                ASSERT_EQ(by_position.neighbors.size(), by_row.neighbors.size());
                for (std::size_t p = 0; p < c.m.rows; ++p) {
                    for (std::size_t e = 0; e < width; ++e) {
                        ASSERT_EQ(tree.indices[by_position.neighbors[p * width + e]],
                                  by_row.neighbors[tree.indices[p] * width + e])
                            << "position " << p << " entry " << e;
                    }
                }
                EXPECT_EQ(dual_tree_boruvka(tree, by_position.core_distances,
                                            by_position.take_neighbors(), width, 1.0,
                                            ExecutionContext(threads)),
                          expected);
            }
        }
    }
    // Columns beyond the walk's: the one-row search's lists, by input row as they say.
    const KdTree wide = KdTree::build(testing::random_matrix(300, 18, 73));
    const CoreDistanceResult fallback =
        kd_group_core_distances(wide, 5, true, ExecutionContext(2), ListNaming::tree_positions);
    EXPECT_EQ(fallback.neighbor_naming, ListNaming::input_rows);
    EXPECT_EQ(fallback.neighbors, tree_core_distances(testing::random_matrix(300, 18, 73), wide, 5,
                                                      true, ExecutionContext(1))
                                      .neighbors);
}

// Every list, on every copy of the walk, runs in ascending distance with ties by input row,
// whichever route (the walk or the one-row search) wrote it.
TEST(GroupCoreDistances, ListsRunInAscendingDistanceTiesByInputRow) {
    for (const DataMatrix& m : {testing::random_matrix(1500, 5, 74, 2),
                                testing::random_matrix(1500, 6, 75, 2), lattice(12, 3)}) {
        const KdTree tree = KdTree::build(m);
        const std::size_t k = 11;
        for (std::size_t level = 0; level < group_walk_levels(); ++level) {
            SCOPED_TRACE(::testing::Message() << m.cols << " columns, level " << level);
            const CoreDistanceResult result =
                kd_group_core_distances_at_level(tree, k, true, ExecutionContext(2), level);
            for (std::size_t i = 0; i < m.rows; ++i) {
                const NeighbourRow* list = result.neighbors.data() + i * (k - 1);
                for (std::size_t e = 1; e < k - 1; ++e) {
                    const double before = squared_distance(m.row(i), m.row(list[e - 1]), m.cols);
                    const double after = squared_distance(m.row(i), m.row(list[e]), m.cols);
                    ASSERT_TRUE(before < after || (before == after && list[e - 1] < list[e]))
                        << "row " << i << " entry " << e;
                }
            }
        }
    }
}

// Small clusters of integer rows far apart, of 1 to 9 rows each, so that leaves and runs
// straddle the gaps: the middle of a run's rows then often lies in a gap, the side of a
// split it picks is far from some lanes or from all, and distances and box bounds tie.
TEST(GroupCoreDistances, MatchesSingleRowSearchAcrossGapsBetweenClusters) {
    for (const std::size_t dims : {2u, 5u}) {
        std::mt19937_64 rng(dims);
        std::uniform_int_distribution<int> size(1, 9);
        std::uniform_int_distribution<int> offset(0, 2);
        std::vector<double> values;
        for (std::size_t cluster = 0; values.size() < 1500 * dims; ++cluster) {
            for (int row = size(rng); row > 0; --row) {
                for (std::size_t j = 0; j < dims; ++j)
                    values.push_back(double((cluster * 7919 + j * 104729) % 613) * 50.0 +
                                     offset(rng));
            }
        }
        values.resize(1500 * dims);
        for (const std::size_t k : {3u, 10u}) {
            expect_matches_single_row_search(
                testing::matrix_from(dims, values), k,
                "clusters, " + std::to_string(dims) + " columns, k " + std::to_string(k));
        }
    }
}

// Squares that overflow to +infinity or vanish to 0: lanes compare infinite or zero
// distances and bounds with infinite or zero limits, and most of those rows tie.
TEST(GroupCoreDistances, MatchesSingleRowSearchWhereSquaresOverflowOrVanish) {
    for (const double scale : {1e160, 1e-170}) {
        for (const std::size_t dims : {2u, 5u}) {
            DataMatrix m = testing::random_matrix(700, dims, unsigned(dims + 40));
            for (std::size_t i = 0; i < m.rows; i += 2) {
                for (std::size_t j = 0; j < dims; ++j)
                    m.values[i * dims + j] *= scale;
            }
            for (const std::size_t k : {3u, 12u}) {
                expect_matches_single_row_search(m, k,
                                                 "scale " + std::to_string(scale) + ", " +
                                                     std::to_string(dims) + " columns, k " +
                                                     std::to_string(k));
            }
        }
    }
}

// Fewer rows than a leaf or a walk, up to k = n; and the brute-force k-th distance.
TEST(GroupCoreDistances, SmallInputsAndEveryK) {
    for (const std::size_t n : {1u, 2u, 7u, 9u, 23u}) {
        const DataMatrix m = testing::random_matrix(n, 4, unsigned(n), n % 2 == 0 ? 0 : 2);
        const KdTree tree = KdTree::build(m);
        for (std::size_t k = 1; k <= n; ++k) {
            const CoreDistanceResult grouped =
                kd_group_core_distances(tree, k, true, ExecutionContext(1));
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(grouped.core_distances[i],
                          std::sqrt(testing::brute_force_knn(m, m.row(i), k).back()))
                    << "n " << n << " k " << k << " row " << i;
            }
            expect_matches_single_row_search(m, k,
                                             "n " + std::to_string(n) + " k " + std::to_string(k));
        }
    }
}

TEST(GroupCoreDistances, SameResultForAnyThreadCount) {
    for (const int levels : {0, 4}) {
        const DataMatrix m = testing::random_matrix(6000, 5, 17, levels);
        const KdTree tree = KdTree::build(m);
        const CoreDistanceResult one = kd_group_core_distances(tree, 10, true, ExecutionContext(1));
        for (const std::size_t threads : {2u, 5u}) {
            const CoreDistanceResult many =
                kd_group_core_distances(tree, 10, true, ExecutionContext(threads));
            EXPECT_TRUE(same_bits(one.core_distances, many.core_distances)) << threads;
            EXPECT_EQ(one.neighbors, many.neighbors) << threads;
        }
        const CoreDistanceResult bare =
            kd_group_core_distances(tree, 10, false, ExecutionContext(2));
        EXPECT_TRUE(bare.neighbors.empty());
        EXPECT_TRUE(same_bits(one.core_distances, bare.core_distances));
    }
}

// No columns, or more than the unrolled searches cover: the single-row search answers.
TEST(GroupCoreDistances, ZeroAndManyColumnsEmptyInputAndBadK) {
    for (const std::size_t dims : {0u, 18u}) {
        const DataMatrix m = testing::random_matrix(400, dims, 5);
        const KdTree tree = KdTree::build(m);
        const CoreDistanceResult oracle =
            tree_core_distances(m, tree, 6, true, ExecutionContext(1));
        const CoreDistanceResult grouped =
            kd_group_core_distances(tree, 6, true, ExecutionContext(2));
        EXPECT_TRUE(same_bits(oracle.core_distances, grouped.core_distances)) << dims;
        EXPECT_EQ(oracle.neighbors, grouped.neighbors) << dims;
    }
    const DataMatrix empty(0, 3);
    EXPECT_TRUE(kd_group_core_distances(KdTree::build(empty), 1, true, ExecutionContext(1))
                    .core_distances.empty());
    const KdTree tree = KdTree::build(testing::random_matrix(20, 2, 3));
    EXPECT_THROW(kd_group_core_distances(tree, 0, false, ExecutionContext(1)), InternalError);
    EXPECT_THROW(kd_group_core_distances(tree, 21, false, ExecutionContext(1)), InternalError);
    EXPECT_THROW(
        kd_group_core_distances_at_level(tree, 2, false, ExecutionContext(1), group_walk_levels()),
        InternalError);
}

}  // namespace
}  // namespace corvane
