#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/internal_error.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "hierarchy/hierarchy.hpp"
#include "hierarchy_test_support.hpp"
#include "labels/assign_labels.hpp"
#include "linkage/edge_order.hpp"
#include "linkage/single_linkage.hpp"
#include "membership/membership_probabilities.hpp"
#include "outlier/outlier_scores.hpp"

namespace corvane {
namespace {

using testing::cluster_hierarchy;
using testing::HierarchyResult;
using testing::kInf;
using Labels = std::vector<std::int32_t>;
constexpr auto Eom = ClusterSelectionMethod::Eom;
constexpr auto Leaf = ClusterSelectionMethod::Leaf;

TEST(Labels, NumberedByClusterIdWithProbabilitiesAlongTheCluster) {
    const CondensedTree tree = testing::nested_tree();
    const ClusterSelection selection{{15, 16, 17}};
    const Labels labels = assign_labels(tree, selection, 13, 0.0, false);
    EXPECT_EQ(labels, (Labels{1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0, -1}));
    // Cluster 16 is born at 1 and its deepest point leaves at 6.
    const std::vector<double> expected{0.8, 0.8, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    const auto probabilities = membership_probabilities(tree, selection, labels, 13);
    for (std::size_t p = 0; p < 13; ++p) {
        EXPECT_DOUBLE_EQ(probabilities[p], expected[p]) << p;
    }
}

TEST(Labels, SelectedRootLabelsPointsFromItsThreshold) {
    const CondensedTree tree = testing::nested_tree();
    const ClusterSelection root{{13}};
    const Labels all_but_12{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1};
    // Threshold: the largest lambda directly under the root (0.5), or 1 / epsilon.
    EXPECT_EQ(assign_labels(tree, root, 13, 0.0, true), all_but_12);
    EXPECT_EQ(assign_labels(tree, root, 13, 3.0, true), all_but_12);
    EXPECT_EQ(assign_labels(tree, root, 13, 4.0, true), Labels(13, 0));
    EXPECT_EQ(assign_labels(tree, root, 13, 0.25, true),
              (Labels{0, 0, 0, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(assign_labels(tree, root, 13, 0.0, false), Labels(13, -1));
    EXPECT_EQ(assign_labels(tree, root, 13, -1.0, true), Labels(13, 0));
    EXPECT_EQ(assign_labels(tree, root, 13, std::nan(""), true), Labels(13, -1));

    const CondensedTree flat{{{3, 0, 1.0, 1}, {3, 1, 2.0, 1}, {3, 2, 2.0, 1}}};
    EXPECT_EQ(assign_labels(flat, {{3}}, 3, 0.0, false), Labels(3, -1));
    const Labels labels = assign_labels(flat, {{3}}, 3, 0.0, true);
    EXPECT_EQ(labels, (Labels{-1, 0, 0}));
    EXPECT_EQ(membership_probabilities(flat, {{3}}, labels, 3), (std::vector<double>{0, 1, 1}));
}

TEST(OutlierScores, DependOnTheDeepestPointOfTheSubtree) {
    const CondensedTree four{{{4, 5, 1.0, 2},
                              {4, 6, 1.0, 2},
                              {6, 2, 2.0, 1},
                              {6, 3, 2.0, 1},
                              {5, 0, 4.0, 1},
                              {5, 1, 4.0, 1}}};
    EXPECT_EQ(outlier_scores(four, 4), std::vector<double>(4, 0.0));
    // Point 12 leaves the root at 0.3; the deepest point below leaves at 6.
    const auto scores = outlier_scores(testing::nested_tree(), 13);
    for (std::size_t p = 0; p < 12; ++p) {
        EXPECT_EQ(scores[p], 0.0) << p;
    }
    EXPECT_DOUBLE_EQ(scores[12], 0.95);
}

TEST(ClusterHierarchy, SmallAndBrokenInputs) {
    const HierarchyResult one = cluster_hierarchy({}, 1, 5, Eom, true, 0.0);
    EXPECT_EQ(one.labels, Labels{-1});
    EXPECT_EQ(one.probabilities, std::vector<double>{0.0});
    EXPECT_EQ(one.outlier_scores, std::vector<double>{0.0});
    EXPECT_TRUE(one.persistence.empty());
    const std::vector<MstEdge> gap{{0, 1, 1.0}};
    EXPECT_THROW(cluster_hierarchy(gap, 3, 2, Eom, false, 0.0), InternalError);
    EXPECT_THROW(cluster_hierarchy(gap, 2, 1, Eom, false, 0.0), InternalError);
}

// Per-point results must satisfy what every caller relies on; `context`
// names the seed and parameters in failure messages.
void check_results(const HierarchyResult& r, std::size_t n, const std::string& context) {
    ASSERT_EQ(r.labels.size(), n) << context;
    ASSERT_EQ(r.probabilities.size(), n) << context;
    ASSERT_EQ(r.outlier_scores.size(), n) << context;
    const auto clusters = static_cast<std::int32_t>(r.persistence.size());
    std::vector<int> members(r.persistence.size(), 0);
    for (std::size_t p = 0; p < n; ++p) {
        ASSERT_GE(r.labels[p], -1) << context;
        ASSERT_LT(r.labels[p], clusters) << context;
        if (r.labels[p] >= 0) ++members[static_cast<std::size_t>(r.labels[p])];
        EXPECT_TRUE(r.probabilities[p] >= 0.0 && r.probabilities[p] <= 1.0) << context;
        EXPECT_TRUE(r.labels[p] >= 0 || r.probabilities[p] == 0.0) << context;
        EXPECT_TRUE(r.outlier_scores[p] >= 0.0 && r.outlier_scores[p] <= 1.0) << context;
    }
    for (double value : r.persistence) {
        EXPECT_TRUE(value >= 0.0) << context;
    }
    // Only a selected root (then the only cluster) may label no point.
    for (std::size_t k = 0; k < members.size(); ++k) {
        EXPECT_TRUE(members[k] > 0 || (clusters == 1 && r.persistence[0] == kInf)) << context;
    }
}

TEST(ClusterHierarchy, InvariantsAndSlowReferencesOnRandomTrees) {
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 2 + rng() % 150;
        const std::size_t m = 2 + rng() % 8;
        const auto edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 9));
        const CondensedTree tree = condense(build_single_linkage(edges, n), n, m);
        const auto parent_of = [&] {
            std::vector<std::size_t> parent(2 * n + 1, 0);
            for (const auto& e : tree.edges) {
                parent[e.child] = e.parent;
            }
            return parent;
        }();

        // Slow GLOSH: the deepest finite point lambda under each point's
        // parent, found by walking every point's ancestors.
        std::vector<double> deepest(2 * n + 1, 0.0);
        std::vector<double> point_lambda(n);
        for (const auto& e : tree.edges) {
            if (e.child >= n) continue;
            point_lambda[e.child] = e.lambda;
            if (!std::isfinite(e.lambda)) continue;
            for (std::size_t c = e.parent;; c = parent_of[c]) {
                deepest[c] = std::max(deepest[c], e.lambda);
                if (c == n) break;
            }
        }
        const auto scores = outlier_scores(tree, n);
        for (std::size_t p = 0; p < n; ++p) {
            const double d = deepest[parent_of[p]];
            const double slow = d > 0 ? std::clamp((d - point_lambda[p]) / d, 0.0, 1.0) : 0.0;
            EXPECT_DOUBLE_EQ(scores[p], slow) << "seed " << seed << " point " << p;
        }

        for (auto method : {Eom, Leaf}) {
            for (bool single : {false, true}) {
                for (double epsilon : {0.0, 0.7, 1.5}) {
                    const std::string context =
                        "seed " + std::to_string(seed) + " method " + std::to_string(int(method)) +
                        " single " + std::to_string(single) + " epsilon " + std::to_string(epsilon);
                    const HierarchyResult r =
                        cluster_hierarchy(edges, n, m, method, single, epsilon);
                    check_results(r, n, context);
                    EXPECT_EQ(r.outlier_scores, scores) << context;

                    // Slow labels: the nearest selected cluster above each point.
                    const auto selection = select_clusters(tree, n, {method, single, epsilon});
                    std::vector<std::int32_t> label_of(2 * n + 1, -1);
                    for (std::size_t k = 0; k < selection.clusters.size(); ++k) {
                        label_of[selection.clusters[k]] = std::int32_t(k);
                    }
                    const bool root_alone = single && selection.clusters == std::vector{n};
                    for (std::size_t p = 0; p < n; ++p) {
                        std::size_t c = parent_of[p];
                        while (c != n && label_of[c] < 0) {
                            c = parent_of[c];
                        }
                        if (c != n) {
                            EXPECT_EQ(r.labels[p], label_of[c]) << context << " point " << p;
                        } else if (!root_alone) {
                            EXPECT_EQ(r.labels[p], -1) << context << " point " << p;
                        }
                    }
                }
            }
        }
    }
}

TEST(ClusterHierarchy, RepeatedPointsStayTogetherAndNumeric) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t k = 2 + seed % 4;
        // A few values repeated at least k times (so at distance 0 in mutual
        // reachability), alone or among ordinary points.
        std::vector<double> x;
        const std::size_t groups = 1 + seed % 3;
        for (std::size_t g = 0; g < groups; ++g) {
            x.insert(x.end(), k + rng() % 25, 10.0 * double(g) + double(rng() % 3));
        }
        if (seed % 2 == 0) {
            std::uniform_real_distribution<double> uniform(-5.0, 30.0);
            for (int i = 0; i < 40; ++i) {
                x.push_back(uniform(rng));
            }
        }
        std::shuffle(x.begin(), x.end(), rng);
        const auto edges = testing::mutual_reachability_mst(rng, x, k);
        for (std::size_t m : {std::size_t{2}, k, std::size_t{12}}) {
            for (auto method : {Eom, Leaf}) {
                for (bool single : {false, true}) {
                    const std::string context =
                        "seed " + std::to_string(seed) + " m " + std::to_string(m) + " method " +
                        std::to_string(int(method)) + " single " + std::to_string(single);
                    const auto r = cluster_hierarchy(edges, x.size(), m, method, single, 0.0);
                    check_results(r, x.size(), context);
                    std::map<double, std::int32_t> label_of_value;
                    for (std::size_t i = 0; i < x.size(); ++i) {
                        const auto [it, first] = label_of_value.emplace(x[i], r.labels[i]);
                        EXPECT_EQ(r.labels[i], it->second) << context << " value " << x[i];
                    }
                }
            }
        }
    }
}

// Re-selection from what a model keeps: condensing again from the kept pre-order tree at
// another min_cluster_size, then selecting with other parameters, gives exactly what a
// hierarchy built from the edges for those parameters gives, down to the last bit.
TEST(ClusterHierarchy, StepsRerunOnTheKeptHierarchyMatchAFreshBuild) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 30 + rng() % 300;
        const auto edges = testing::random_spanning_tree(rng, n, 2 + int(seed % 5));
        Hierarchy kept = link_hierarchy(edges, n);
        HierarchySelection first = select_hierarchy(kept, 5, {});
        install_selection(kept, first);
        for (const std::size_t m : {std::size_t{2}, std::size_t{9}, std::size_t{5}}) {
            const std::string context = "seed " + std::to_string(seed) + " m " + std::to_string(m);
            for (const SelectionParams params :
                 {SelectionParams{Leaf, true, 0.7}, SelectionParams{Eom, false, 1.5},
                  SelectionParams{Eom, true, 0.0}, SelectionParams{Eom, true, 0.6, 2 * m, 1.0},
                  SelectionParams{Leaf, false, 1.0, m, 1.5}}) {
                const std::size_t condensed_at = kept.min_cluster_size;
                HierarchySelection again = select_hierarchy(kept, m, params);
                EXPECT_EQ(again.condensed.has_value(), m != condensed_at) << context;
                EXPECT_EQ(again.outlier_scores.has_value(), m != condensed_at) << context;
                const HierarchyResult expected = cluster_hierarchy(edges, n, m, params);
                EXPECT_EQ(again.results.labels, expected.labels) << context;
                EXPECT_EQ(again.results.probabilities, expected.probabilities) << context;
                EXPECT_EQ(again.results.persistence, expected.persistence) << context;
                if (again.outlier_scores) {
                    EXPECT_EQ(*again.outlier_scores, expected.outlier_scores) << context;
                }
                install_selection(kept, again);
                EXPECT_EQ(kept.min_cluster_size, m) << context;
                EXPECT_EQ(kept.condensed.unpacked().edges,
                          condense(build_single_linkage(edges, n), n, m).edges)
                    << context;
            }
        }
    }
}

// The per-point steps run in pieces on every thread from 2^16 points on: the results are
// those of one thread, on trees with many ties, for both selections, a selected root and
// batches of edges already sorted (as Boruvka emits them).
TEST(ClusterHierarchy, SameResultsOnOneThreadAndOnMany) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 70'000 + rng() % 60'000;
        auto edges = testing::random_spanning_tree(rng, n, 3 + int(seed) * 40);
        if (seed == 3) {
            std::sort(edges.begin(), edges.begin() + std::ptrdiff_t(n / 2), merge_order_less);
            std::sort(edges.begin() + std::ptrdiff_t(n / 2), edges.end(), merge_order_less);
        }
        for (const SelectionParams params :
             {SelectionParams{Eom, false, 0.0}, SelectionParams{Leaf, false, 0.5},
              SelectionParams{Eom, true, 0.0}}) {
            std::vector<HierarchySelection> results;
            for (const std::size_t threads : {1, 2, 5}) {
                const ExecutionContext context(threads);
                const Hierarchy hierarchy = link_hierarchy(edges, n, context);
                results.push_back(select_hierarchy(hierarchy, 8, params, context));
            }
            const std::string context = "seed " + std::to_string(seed);
            ASSERT_TRUE(results[0].outlier_scores.has_value()) << context;
            for (std::size_t r = 1; r < results.size(); ++r) {
                EXPECT_EQ(results[r].results.labels, results[0].results.labels) << context;
                EXPECT_EQ(results[r].results.probabilities, results[0].results.probabilities)
                    << context;
                EXPECT_EQ(results[r].results.persistence, results[0].results.persistence)
                    << context;
                EXPECT_EQ(*results[r].outlier_scores, *results[0].outlier_scores) << context;
            }
        }
    }
}

// A fit writes the per-point results from the condensed tree's edges after its index is
// released; the index route is the reference. Trees with many ties (few weight levels,
// duplicated points at zero weight), large enough for the per-point passes to run on
// several threads, and selections that label through the root's threshold.
TEST(ClusterHierarchy, ResultsFromTheEdgesEqualTheIndexRoute) {
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = seed <= 3 ? 70'000 + rng() % 40'000 : 3 + rng() % 400;
        std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 2 + int(seed % 6));
        for (std::size_t i = 0; i < edges.size(); i += 1 + seed % 4)
            edges[i].weight = 0.0;
        const std::size_t m = 2 + seed % 6;
        for (const SelectionParams params :
             {SelectionParams{Eom, false, 0.0}, SelectionParams{Leaf, false, 0.7},
              SelectionParams{Eom, true, 0.0}, SelectionParams{Eom, true, 0.4},
              SelectionParams{Leaf, true, -1.0}}) {
            const std::string context = "seed " + std::to_string(seed) + " method " +
                                        std::to_string(int(params.method)) + " epsilon " +
                                        std::to_string(params.epsilon);
            const Hierarchy hierarchy = link_hierarchy(edges, n);
            const PackedCondensedTree tree = condense(hierarchy.linkage, m);
            const CondensedIndex index = index_condensed_tree(tree);
            const ClusterSelection selection = select_clusters(tree, index, params);
            const Labels labels =
                assign_labels(index, selection, params.epsilon, params.allow_single_cluster);
            const std::vector<double> probabilities =
                membership_probabilities(index, selection, labels);
            const std::vector<double> scores = outlier_scores(index);
            for (const std::size_t threads : {1, 2, 5}) {
                const ExecutionContext threaded(threads);
                const HierarchySelection selected =
                    select_hierarchy(link_hierarchy(edges, n, threaded), m, params, threaded);
                const std::string where = context + " threads " + std::to_string(threads);
                EXPECT_EQ(selected.selection.clusters, selection.clusters) << where;
                EXPECT_EQ(selected.results.labels, labels) << where;
                EXPECT_EQ(selected.results.probabilities, probabilities) << where;
                EXPECT_EQ(*selected.outlier_scores, scores) << where;
            }
        }
    }
}

// Points of a small grid, some repeated, under the Manhattan distance: most mutual-reachability
// edges tie with others, so Kruskal with ties in another order (and endpoints the other way
// round) finds another spanning tree of the same weight. The hierarchy, and so every result
// and the condensed tree, must not depend on which one arrives.
TEST(ClusterHierarchy, EqualWeightSpanningTreesGiveTheSameClusters) {
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 40 + rng() % 120;
        const int side = 4 + int(seed % 7);
        std::vector<std::pair<int, int>> points(n);
        for (auto& [x, y] : points)
            x = int(rng() % side), y = int(rng() % side);
        const std::size_t k = 1 + seed % 4;
        const auto distance = [&](std::size_t i, std::size_t j) {
            return double(std::abs(points[i].first - points[j].first) +
                          std::abs(points[i].second - points[j].second));
        };
        std::vector<double> core(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::vector<double> d;
            for (std::size_t j = 0; j < n; ++j)
                d.push_back(distance(i, j));
            std::nth_element(d.begin(), d.begin() + std::ptrdiff_t(k - 1), d.end());
            core[i] = d[k - 1];
        }
        std::vector<MstEdge> all;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < i; ++j)
                all.push_back({i, j, std::max({core[i], core[j], distance(i, j)})});
        const auto spanning_tree = [&] {
            std::shuffle(all.begin(), all.end(), rng);
            std::stable_sort(all.begin(), all.end(), [](const MstEdge& a, const MstEdge& b) {
                return a.weight < b.weight;
            });
            UnionFind sets(n);
            std::vector<MstEdge> edges;
            for (const MstEdge& e : all) {
                if (sets.find(e.a) == sets.find(e.b)) continue;
                sets.unite(e.a, e.b);
                edges.push_back(rng() % 2 ? e : MstEdge{e.b, e.a, e.weight});
            }
            std::shuffle(edges.begin(), edges.end(), rng);
            return edges;
        };
        const std::vector<MstEdge> first = spanning_tree();
        const std::vector<MstEdge> second = spanning_tree();
        const auto sorted_condensed = [](const PackedCondensedTree& tree) {
            // Points that leave one cluster at one lambda are emitted in the order of the
            // tree's pairing, which the results do not read.
            std::vector<CondensedEdge> edges = tree.unpacked().edges;
            std::sort(edges.begin(), edges.end(),
                      [](const CondensedEdge& x, const CondensedEdge& y) {
                          return std::tie(x.parent, x.child, x.lambda) <
                                 std::tie(y.parent, y.child, y.lambda);
                      });
            return edges;
        };
        for (const std::size_t m : {std::size_t{2}, std::size_t{3}, std::size_t{6}}) {
            for (const SelectionParams params :
                 {SelectionParams{Eom, false, 0.0}, SelectionParams{Leaf, false, 0.0},
                  SelectionParams{Eom, true, 1.5}}) {
                const std::string context = "seed " + std::to_string(seed) + " m " +
                                            std::to_string(m) + " method " +
                                            std::to_string(int(params.method));
                const Hierarchy a = link_hierarchy(first, n);
                const Hierarchy b = link_hierarchy(second, n);
                const HierarchySelection x = select_hierarchy(a, m, params);
                const HierarchySelection y = select_hierarchy(b, m, params);
                EXPECT_EQ(x.results.labels, y.results.labels) << context;
                EXPECT_EQ(x.results.probabilities, y.results.probabilities) << context;
                EXPECT_EQ(x.results.persistence, y.results.persistence) << context;
                EXPECT_EQ(*x.outlier_scores, *y.outlier_scores) << context;
                EXPECT_EQ(sorted_condensed(condense(a.linkage, m)),
                          sorted_condensed(condense(b.linkage, m)))
                    << context;
            }
        }
    }
}

// A million evenly spaced points: every merge adds one point, so the
// single-linkage tree is a chain of depth n - 1. Also a chain of pairs, each
// merge a real split, which nests about n / 2 clusters.
TEST(ClusterHierarchy, MillionPointChainsNeedNoDeepRecursion) {
    constexpr std::size_t n = 1'000'000;
    std::vector<MstEdge> chain;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        chain.push_back({i, i + 1, 1.0});
    }
    std::vector<MstEdge> pairs;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        pairs.push_back({i, i + 1, i % 2 == 0 ? 0.001 : 1.0 + double(i)});
    }

    const auto start = std::chrono::steady_clock::now();
    const auto single = cluster_hierarchy(chain, n, 5, Eom, true, 0.0);
    const auto dropped = cluster_hierarchy(chain, n, n + 1, Leaf, false, 0.0);
    const auto nested = cluster_hierarchy(pairs, n, 2, Eom, false, 0.0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("three hierarchies over %zu points: %.3f s\n", n, seconds);

    EXPECT_EQ(single.labels, Labels(n, 0));
    EXPECT_EQ(single.probabilities, std::vector<double>(n, 1.0));
    EXPECT_EQ(single.persistence, std::vector<double>{kInf});
    EXPECT_EQ(dropped.labels, Labels(n, -1));
    EXPECT_EQ(dropped.outlier_scores, std::vector<double>(n, 0.0));
    // Every pair is selected; right-first numbering gives the last pair the
    // smallest id, down to pairs 2, then 0 and 1 (the bottom split's sides).
    ASSERT_EQ(nested.persistence.size(), n / 2);
    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t pair = p / 2;
        const std::size_t label = pair == 0 ? n / 2 - 2 : pair == 1 ? n / 2 - 1 : n / 2 - 1 - pair;
        ASSERT_EQ(nested.labels[p], std::int32_t(label)) << p;
    }
}

}  // namespace
}  // namespace corvane
