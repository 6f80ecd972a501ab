#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "distance/distance.hpp"
#include "outlier/glosh.hpp"
#include "soft_clustering/exemplar_distances.hpp"
#include "soft_clustering/membership_row.hpp"
#include "soft_clustering/merge_heights.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Ten points: root 10 splits at lambda 1 into 11 and 12; 11 splits at 2 into 13 and 14.
// Point 0 leaves the root, 1 and 2 leave 11 before its split, 7 leaves 14 at +infinity
// (a duplicate). Selected: 13, 14, 12 as labels 0, 1, 2.
struct HandTree {
    CondensedIndex index;
    ClusterSelection selection{{13, 14, 12}};

    HandTree() {
        CondensedTree tree;
        tree.edges = {
            {10, 0, 0.5, 1},  {10, 11, 1.0, 7}, {10, 12, 1.0, 2}, {11, 1, 1.5, 1}, {11, 2, 1.5, 1},
            {11, 13, 2.0, 3}, {11, 14, 2.0, 2}, {12, 8, 1.2, 1},  {12, 9, 1.7, 1}, {13, 3, 3.0, 1},
            {13, 4, 4.0, 1},  {13, 5, 4.0, 1},  {14, 6, 2.5, 1},  {14, 7, INF, 1},
        };
        index = index_condensed_tree(PackedCondensedTree(tree, 10));
    }

    std::vector<double> heights(std::size_t point) const {
        const MergeHeights merge(index, selection);
        std::vector<double> out(3, NaN);
        merge.merge_heights({index.parent[point], index.lambda[point]}, out);
        return out;
    }
};

TEST(MergeHeights, InsideTheClusterItsOwnLambdaElseTheBranchAtTheCommonAncestor) {
    const HandTree hand;
    // Inside 13: its own lambda; 14 meets it where 13 leaves 11; 12 where 11 leaves the root.
    EXPECT_EQ(hand.heights(3), (std::vector<double>{3.0, 2.0, 1.0}));
    // Leaving 11 itself, the common ancestor with 13 and 14: its own lambda for both.
    EXPECT_EQ(hand.heights(1), (std::vector<double>{1.5, 1.5, 1.0}));
    // Leaving the root: its own lambda everywhere.
    EXPECT_EQ(hand.heights(0), (std::vector<double>{0.5, 0.5, 0.5}));
    EXPECT_EQ(hand.heights(9), (std::vector<double>{1.0, 1.0, 1.7}));
    // +infinity reads as the deepest finite lambda under 14.
    EXPECT_EQ(hand.heights(7), (std::vector<double>{2.0, 2.5, 1.0}));
}

TEST(MergeHeights, DeepestLambdasAndTheirFallbackForDuplicates) {
    HandTree hand;
    const MergeHeights merge(hand.index, hand.selection);
    EXPECT_EQ(merge.deepest(11), 4.0);
    EXPECT_EQ(merge.deepest(14), 2.5);
    EXPECT_EQ(glosh_deepest(hand.index)[0], 4.0);
    EXPECT_EQ(merge.deepest_of_label(2), 1.7);

    // A leaf whose points all leave at +infinity: 0 for the scores, the tree's deepest
    // finite lambda for the vectors.
    CondensedTree tree;
    tree.edges = {{4, 5, 1.0, 2}, {4, 6, 1.0, 2}, {5, 0, INF, 1},
                  {5, 1, INF, 1}, {6, 2, 2.0, 1}, {6, 3, 3.0, 1}};
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, 4));
    const MergeHeights duplicates(index, ClusterSelection{{5, 6}});
    EXPECT_EQ(glosh_deepest(index)[1], 0.0);
    EXPECT_EQ(duplicates.deepest(5), 3.0);
    std::vector<double> heights(2);
    duplicates.merge_heights({5, INF}, heights);
    EXPECT_EQ(heights, (std::vector<double>{3.0, 1.0}));
}

TEST(ReciprocalShares, ZerosShareAndInfinitiesGetNothing) {
    std::vector<double> plain{1.0, 2.0, 4.0};
    reciprocal_shares(plain);
    EXPECT_DOUBLE_EQ(plain[0], 4.0 / 7.0);
    EXPECT_DOUBLE_EQ(plain[2], 1.0 / 7.0);

    std::vector<double> zeros{0.0, 3.0, 0.0, INF};
    reciprocal_shares(zeros);
    EXPECT_EQ(zeros, (std::vector<double>{0.5, 0.0, 0.5, 0.0}));

    std::vector<double> far{INF, 2.0, NaN};
    reciprocal_shares(far);
    EXPECT_EQ(far, (std::vector<double>{0.0, 1.0, 0.0}));

    std::vector<double> nowhere{INF, NaN};
    reciprocal_shares(nowhere);
    EXPECT_EQ(nowhere, (std::vector<double>{0.5, 0.5}));
}

std::vector<double> row_of(const HandTree& hand, std::size_t point, std::vector<double> vector) {
    const MergeHeights merge(hand.index, hand.selection);
    std::vector<double> a(3);
    std::vector<double> b(3);
    membership_row(merge, {hand.index.parent[point], hand.index.lambda[point]}, vector, a, b);
    return vector;
}

TEST(MembershipRow, HandCheckedVectors) {
    const HandTree hand;
    // Point 3: distance part (2, 1, 0.5) / 3.5; outlier part 1 / (m - h) with m = 4 and
    // h = (3, 2, 1): (1, 1/2, 1/3); in some cluster with probability 3 / 4.
    const std::vector<double> row = row_of(hand, 3, {0.5, 1.0, 2.0});
    const double product[3] = {2.0 * 1.0, 1.0 * 0.5, 0.5 / 3.0};
    const double sum = product[0] + product[1] + product[2];
    for (std::size_t c = 0; c < 3; ++c)
        EXPECT_NEAR(row[c], product[c] / sum * 0.75, 1e-15) << c;

    // At distance 0 from clusters 0 and 1: they share the distance part.
    const std::vector<double> tied = row_of(hand, 3, {0.0, 0.0, 2.0});
    EXPECT_NEAR(tied[0] / tied[1], 2.0, 1e-12);
    EXPECT_EQ(tied[2], 0.0);

    // Point 7 is the deepest of 14 (h = m): the outlier part is all 14's, while the
    // distance part is all 13's; the product vanishes and the distance part decides.
    const std::vector<double> split = row_of(hand, 7, {0.0, 1.0, 1.0});
    EXPECT_EQ(split, (std::vector<double>{1.0, 0.0, 0.0}));
}

TEST(ExemplarDistances, IndexedAndMeasuredRoutesGiveTheSmallestDistanceBitForBit) {
    std::mt19937_64 rng(19);
    std::uniform_int_distribution<int> grid(0, 6);  // a coarse grid: ties and duplicates
    for (const std::size_t dims : {std::size_t{2}, std::size_t{20}}) {
        DataMatrix data(300, dims);
        for (double& value : data.values)
            value = grid(rng) * 0.25;
        PointsByCluster exemplars;
        exemplars.begin = {0, 1, 40, 140};
        for (std::size_t i = 0; i < 140; ++i)
            exemplars.points.push_back(2 * i + 1);
        for (const Metric metric : {Metric::euclidean(), Metric::manhattan(), Metric::cosine()}) {
            const ExemplarDistances distances(data, metric, exemplars);
            std::vector<double> scratch(distances.scratch_size());
            std::vector<double> got(3);
            for (std::size_t i = 0; i < data.rows; i += 7) {
                distances.measure(data.row(i), got, scratch.data());
                for (std::size_t c = 0; c < 3; ++c) {
                    double best = INF;
                    for (const std::size_t j : exemplars.of(c)) {
                        best = std::min(
                            best, compute_distance(data.row_span(i), data.row_span(j), metric));
                    }
                    EXPECT_EQ(got[c], best) << "dims " << dims << " row " << i << " cluster " << c;
                }
            }
        }
    }
}

TEST(ExemplarDistances, PrecomputedRowsAreReadAtTheExemplarsAndNaNIsNoCandidate) {
    const DataMatrix training(4, 4);
    PointsByCluster exemplars;
    exemplars.begin = {0, 2, 3};
    exemplars.points = {1, 3, 2};
    const ExemplarDistances distances(training, Metric::precomputed(), exemplars);
    const double row[4] = {0.0, 5.0, NaN, 2.0};
    std::vector<double> got(2);
    distances.measure(row, got, nullptr);
    EXPECT_EQ(got, (std::vector<double>{2.0, INF}));
}

}  // namespace
}  // namespace corvane
