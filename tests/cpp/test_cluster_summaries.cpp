#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "cluster_centres/cluster_centres.hpp"
#include "cluster_centres/compensated_sum.hpp"
#include "cluster_centres/medoid_ties.hpp"
#include "cluster_centres/norm_medoid.hpp"
#include "common/internal_error.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "dbscan_cut/dbscan_cut.hpp"
#include "distance/distance.hpp"
#include "exemplars/cluster_exemplars.hpp"
#include "hierarchy_test_support.hpp"
#include "labels/assign_labels.hpp"
#include "labels/points_by_cluster.hpp"

namespace corvane {
namespace {

using Labels = std::vector<std::int32_t>;
using Points = std::vector<std::size_t>;

Points as_vector(std::span<const std::size_t> points) {
    return {points.begin(), points.end()};
}

TEST(PointsByCluster, GroupsInAscendingOrderAndSkipsNoise) {
    const PointsByCluster groups = group_by_label(Labels{2, -1, 0, 2, 0, -1, 2}, 4);
    ASSERT_EQ(groups.clusters(), 4u);
    EXPECT_EQ(as_vector(groups.of(0)), (Points{2, 4}));
    EXPECT_EQ(as_vector(groups.of(1)), Points{});
    EXPECT_EQ(as_vector(groups.of(2)), (Points{0, 3, 6}));
    EXPECT_EQ(as_vector(groups.of(3)), Points{});
    EXPECT_THROW(group_by_label(Labels{0, 1}, 1), InternalError);
}

// nested_tree() with point 1 leaving leaf 18 at 4.5 (before point 0, at 5) and point 9
// leaving leaf 15 at 2.5 (before 8, 10 and 11, at 3).
CondensedIndex uneven_leaves() {
    CondensedTree tree = testing::nested_tree();
    for (CondensedEdge& edge : tree.edges) {
        if (edge.child == 1) edge.lambda = 4.5;
        if (edge.child == 9) edge.lambda = 2.5;
    }
    return index_condensed_tree(PackedCondensedTree(tree, 13));
}

TEST(Exemplars, ThePointsThatLeaveEachLeafLast) {
    const CondensedIndex index = uneven_leaves();
    // Leaves 15, 17, 18 and 19, each its own cluster.
    const ClusterSelection leaves{{15, 17, 18, 19}};
    const Labels labels = assign_labels(index, leaves, 0.0, false);
    const PointsByCluster exemplars = cluster_exemplars(index, labels, 4);
    EXPECT_EQ(as_vector(exemplars.of(0)), (Points{8, 10, 11}));
    EXPECT_EQ(as_vector(exemplars.of(1)), (Points{4, 5, 6, 7}));
    EXPECT_EQ(as_vector(exemplars.of(2)), Points{0});
    EXPECT_EQ(as_vector(exemplars.of(3)), (Points{2, 3}));

    // Cluster 14 gathers the exemplars of the leaves 17, 18 and 19 below it.
    const ClusterSelection upper{{14, 15}};
    const PointsByCluster merged =
        cluster_exemplars(index, assign_labels(index, upper, 0.0, false), 2);
    EXPECT_EQ(as_vector(merged.of(0)), (Points{0, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(as_vector(merged.of(1)), (Points{8, 10, 11}));
}

TEST(Exemplars, OnlyMembersOfASingleRootCluster) {
    const CondensedIndex index = uneven_leaves();
    // A single root cluster labels the points from lambda 1 / 0.18 = 5.6 up: 2 and 3.
    const Labels labels = assign_labels(index, ClusterSelection{{13}}, 0.18, true);
    EXPECT_EQ(as_vector(cluster_exemplars(index, labels, 1).of(0)), (Points{2, 3}));
}

TEST(Exemplars, PointsAtDistanceZeroAreExemplarsOfTheirLeaf) {
    const double inf = testing::kInf;
    const CondensedTree tree{{{4, 0, 0.5, 1}, {4, 1, inf, 1}, {4, 2, inf, 1}, {4, 3, 2.0, 1}}};
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, 4));
    EXPECT_EQ(as_vector(cluster_exemplars(index, Labels{0, 0, 0, 0}, 1).of(0)), (Points{1, 2}));
}

SpanningTree tree_in_merge_order(const std::vector<MstEdge>& edges, std::size_t n) {
    return SpanningTree(edges, n);
}

TEST(DbscanCut, PartsOfTheFirstEdgesNumberedByTheirLowestPoint) {
    // Merge order: {5, 6} first, then {0, 1}, {2, 3} ... 7 stays alone.
    const SpanningTree tree = tree_in_merge_order(
        {{5, 6, 0.5}, {1, 0, 0.5}, {3, 2, 1.0}, {4, 5, 1.0}, {2, 1, 2.0}, {4, 3, 3.0}, {7, 4, 9.0}},
        8);
    EXPECT_EQ(dbscan_cut_labels(tree, 0, 1), (Labels{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(dbscan_cut_labels(tree, 0, 2), Labels(8, -1));
    EXPECT_EQ(dbscan_cut_labels(tree, 2, 2), (Labels{0, 0, -1, -1, -1, 1, 1, -1}));
    EXPECT_EQ(dbscan_cut_labels(tree, 4, 2), (Labels{0, 0, 1, 1, 2, 2, 2, -1}));
    EXPECT_EQ(dbscan_cut_labels(tree, 4, 3), (Labels{-1, -1, -1, -1, 0, 0, 0, -1}));
    EXPECT_EQ(dbscan_cut_labels(tree, 6, 3), (Labels{0, 0, 0, 0, 0, 0, 0, -1}));
    EXPECT_EQ(dbscan_cut_labels(tree, 7, 8), Labels(8, 0));
    EXPECT_EQ(dbscan_cut_labels(tree, 7, 9), Labels(8, -1));
    EXPECT_THROW(dbscan_cut_labels(tree, 8, 1), InternalError);
}

TEST(Centroids, WeightedMeansOfTheRows) {
    DataMatrix data(5, 2);
    data.values = {0, 0, 4, 2, 1, 1, 9, 9, 3, 5};
    const PointsByCluster clusters = group_by_label(Labels{0, 0, 1, -1, 1}, 3);
    const std::vector<double> weights{1.0, 3.0, 0.0, 1.0, 0.0};
    const DataMatrix centroids = weighted_centroids(data, clusters, weights);
    ASSERT_EQ(centroids.rows, 3u);
    EXPECT_EQ(centroids.at(0, 0), 3.0);
    EXPECT_EQ(centroids.at(0, 1), 1.5);
    // No weight at all: every member counts alike.
    EXPECT_EQ(centroids.at(1, 0), 2.0);
    EXPECT_EQ(centroids.at(1, 1), 3.0);
    EXPECT_TRUE(std::isnan(centroids.at(2, 0)) && std::isnan(centroids.at(2, 1)));
}

TEST(MedoidTies, LowestPositionWithinTheToleranceOfTheSmallestSum) {
    MedoidCandidates candidates;
    candidates.add(7, 10.0);
    candidates.add(3, 10.0 + 1e-9);
    candidates.add(5, 10.0 + 5e-9);
    candidates.add(9, 9.999999);
    EXPECT_EQ(candidates.pick({0.0, 0.0}), 9u);
    EXPECT_EQ(candidates.pick({0.0, 1e-6 + 5e-10}), 7u);
    EXPECT_EQ(candidates.pick({0.0, 1e-6 + 2e-9}), 3u);
    EXPECT_EQ(candidates.pick({2e-7, 0.0}), 3u);
    EXPECT_THROW(MedoidCandidates().pick({}), InternalError);
}

TEST(MedoidTies, OverflowedSumsStillPickAMember) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    CompensatedSum total;
    for (const double term : {1.0, inf, 3.0, inf})
        total.add(term);
    EXPECT_EQ(total.value(), inf);

    MedoidCandidates overflowed;
    overflowed.add(4, inf);
    overflowed.add(2, inf);
    overflowed.add(6, nan);
    EXPECT_EQ(overflowed.pick({0.0, 0.0}), 2u);
    EXPECT_EQ(overflowed.pick({1e-15, 0.0}), 2u);

    MedoidCandidates numbered;
    numbered.add(1, nan);
    numbered.add(8, 5.0);
    EXPECT_EQ(numbered.pick({0.0, 0.0}), 8u);

    MedoidCandidates undefined;
    undefined.add(5, nan);
    undefined.add(3, nan);
    EXPECT_EQ(undefined.pick({0.0, 0.0}), 3u);
}

struct MedoidCase {
    DataMatrix data;
    PointsByCluster clusters;
    std::vector<double> weights;
};

// Clusters of several shapes over random points with a share of exact duplicates: a
// Gaussian, integer points on a small grid (ties everywhere), a single point repeated,
// one point, and an empty cluster.
MedoidCase random_case(std::mt19937_64& rng, std::size_t columns) {
    std::normal_distribution<double> normal;
    std::uniform_int_distribution<int> grid(-2, 2);
    std::uniform_real_distribution<double> weight(0.05, 1.0);
    const std::size_t sizes[] = {300, 120, 40, 1, 0};
    std::vector<std::vector<double>> rows;
    Labels labels;
    for (std::int32_t k = 0; k < 5; ++k) {
        std::vector<double> repeated(columns, 7.0);
        for (std::size_t i = 0; i < sizes[k]; ++i) {
            std::vector<double> row(columns);
            for (double& value : row) {
                value = k == 0 ? 20.0 + 3.0 * normal(rng) : k == 1 ? -20.0 + grid(rng) : 7.0;
            }
            if (k == 0 && i % 10 == 3) row = rows[rows.size() - 2];
            rows.push_back(row);
            labels.push_back(k);
        }
    }
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), rng);
    MedoidCase result;
    result.data = DataMatrix(rows.size(), columns);
    Labels shuffled(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::copy(rows[order[i]].begin(), rows[order[i]].end(), result.data.row(i));
        shuffled[i] = labels[order[i]];
        // Grid points share one weight, so their sums tie exactly as their distances do.
        result.weights.push_back(shuffled[i] == 1 ? 0.5 : weight(rng));
    }
    result.clusters = group_by_label(shuffled, 5);
    return result;
}

DataMatrix distance_matrix(const DataMatrix& data, const Metric& metric) {
    DataMatrix matrix(data.rows, data.rows);
    for (std::size_t i = 0; i < data.rows; ++i) {
        for (std::size_t j = 0; j < data.rows; ++j)
            matrix.at(i, j) = compute_distance(data.row_span(i), data.row_span(j), metric);
    }
    return matrix;
}

TEST(Medoids, EveryRouteEqualsBruteForceOnAnyNumberOfThreads) {
    const Metric metrics[] = {Metric::euclidean(),    Metric::manhattan(),
                              Metric::cosine(),       Metric::minkowski(3.0),
                              Metric::minkowski(1.5), Metric::minkowski(INFINITY),
                              Metric::precomputed()};
    for (const std::size_t columns : {1u, 2u, 3u, 7u, 24u}) {
        for (std::size_t m = 0; m < std::size(metrics); ++m) {
            const std::uint64_t seed = 100 * columns + m;
            std::mt19937_64 rng(seed);
            MedoidCase c = random_case(rng, columns);
            const Metric& metric = metrics[m];
            if (metric.kind == MetricKind::Precomputed) {
                c.data = distance_matrix(c.data, Metric::euclidean());
            }
            const auto expected = medoids_by_brute_force(c.data, metric, c.clusters, c.weights);
            for (const std::size_t threads : {1u, 3u}) {
                const ExecutionContext context(threads);
                EXPECT_EQ(exact_medoids(c.data, metric, c.clusters, c.weights, context), expected)
                    << "seed " << seed << ", " << threads << " threads";
            }
            // The repeated point and the single point are their own medoids; the empty
            // cluster has none.
            EXPECT_EQ(expected[2], c.clusters.of(2).front()) << "seed " << seed;
            EXPECT_EQ(expected[3], c.clusters.of(3).front()) << "seed " << seed;
            EXPECT_EQ(expected[4], NO_MEDOID) << "seed " << seed;
        }
    }
}

TEST(Medoids, SearchSettlesLowDimensionsAndGivesUpOnManyDimensions) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal;
    for (const std::size_t columns : {2u, 40u}) {
        const std::size_t count = 2000;
        std::vector<double> rows(count * columns);
        for (double& value : rows)
            value = normal(rng);
        const std::vector<double> weights(count, 1.0);
        const Metric metric = Metric::euclidean();
        const SumTolerance tolerance = sum_tolerance(metric, columns, 2000.0);
        const MedoidSearch search = norm_medoid_search(rows, columns, weights, metric, tolerance);
        if (columns == 2) {
            EXPECT_TRUE(search.unresolved.empty());
        } else {
            // Gaussian points in 40 dimensions are all about as central as each other.
            EXPECT_GT(search.unresolved.size(), count / 2);
        }
    }
}

TEST(Medoids, ExactTiesGoToTheLowestPoint) {
    // A square's corners twice over in shuffled order: every sum is the same.
    DataMatrix data(8, 2);
    data.values = {1, 3, 3, 1, 1, 1, 3, 3, 3, 3, 1, 1, 3, 1, 1, 3};
    const std::vector<double> weights(8, 0.25);
    const PointsByCluster all = group_by_label(Labels{-1, 0, 0, 0, 0, 0, 0, 0}, 1);
    for (const Metric& metric :
         {Metric::euclidean(), Metric::manhattan(), Metric::minkowski(INFINITY)}) {
        EXPECT_EQ(exact_medoids(data, metric, all, weights), Points{1});
        EXPECT_EQ(medoids_by_brute_force(data, metric, all, weights), Points{1});
    }
}

}  // namespace
}  // namespace corvane
