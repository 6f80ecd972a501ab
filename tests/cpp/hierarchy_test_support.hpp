#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "common/mst_edge.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "hierarchy/hierarchy.hpp"
#include "union_find/union_find.hpp"

namespace corvane::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Every per-point and per-cluster result of a fit's hierarchy, from its edges in one go.
struct HierarchyResult {
    std::vector<std::int32_t> labels;
    std::vector<double> probabilities;
    std::vector<double> outlier_scores;
    std::vector<double> persistence;
};

inline HierarchyResult cluster_hierarchy(std::span<const MstEdge> edges, std::size_t n,
                                         std::size_t min_cluster_size,
                                         const SelectionParams& params) {
    const Hierarchy hierarchy = link_hierarchy({edges.begin(), edges.end()}, n);
    HierarchySelection selected = select_hierarchy(hierarchy, min_cluster_size, params);
    return {std::move(selected.results.labels), std::move(selected.results.probabilities),
            std::move(*selected.outlier_scores), std::move(selected.results.persistence)};
}

inline HierarchyResult cluster_hierarchy(std::span<const MstEdge> edges, std::size_t n,
                                         std::size_t min_cluster_size,
                                         ClusterSelectionMethod method, bool allow_single_cluster,
                                         double cluster_selection_epsilon) {
    return cluster_hierarchy(edges, n, min_cluster_size,
                             {method, allow_single_cluster, cluster_selection_epsilon});
}

// A random spanning tree over a random permutation of 0 .. n-1. Weights come
// from {0, 0.5, 1, ..., (levels - 1) / 2}, so ties and zero weights are common.
inline std::vector<MstEdge> random_spanning_tree(std::mt19937_64& rng, std::size_t n, int levels) {
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), rng);
    std::uniform_int_distribution<int> level(0, levels - 1);
    std::vector<MstEdge> edges;
    for (std::size_t i = 1; i < n; ++i) {
        std::uniform_int_distribution<std::size_t> pick(0, i - 1);
        edges.push_back({order[pick(rng)], order[i], 0.5 * level(rng)});
    }
    return edges;
}

// A minimum spanning tree of the mutual-reachability graph of 1-D points
// (core distance: distance to the k-th nearest point, the point itself
// counted), by Kruskal over all pairs with ties in random order, so duplicate
// points are joined by random trees of zero-weight edges. Small inputs only.
inline std::vector<MstEdge> mutual_reachability_mst(std::mt19937_64& rng,
                                                    const std::vector<double>& x, std::size_t k) {
    const std::size_t n = x.size();
    std::vector<double> core(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<double> d;
        for (double y : x) {
            d.push_back(std::abs(x[i] - y));
        }
        std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(k - 1), d.end());
        core[i] = d[k - 1];
    }
    std::vector<MstEdge> all;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            all.push_back({i, j, std::max({core[i], core[j], std::abs(x[i] - x[j])})});
        }
    }
    std::shuffle(all.begin(), all.end(), rng);
    std::stable_sort(all.begin(), all.end(),
                     [](const MstEdge& a, const MstEdge& b) { return a.weight < b.weight; });
    UnionFind sets(n);
    std::vector<MstEdge> edges;
    for (const MstEdge& e : all) {
        if (sets.find(e.a) == sets.find(e.b)) continue;
        sets.unite(e.a, e.b);
        edges.push_back(e);
    }
    return edges;
}

// Thirteen points: root 13 drops point 12 at 0.3 and splits at 0.5 into 14
// (points 0..7) and 15 (8..11, leaving at 3). 14 splits at 1 into 16 (0..3)
// and 17 (4..7, leaving at 2); 16 splits at 4 into 18 (0, 1, leaving at 5)
// and 19 (2, 3, leaving at 6). Birth distances: 2 for 14 and 15, 1 for 16
// and 17, 0.25 for 18 and 19. Stabilities: 13: 6.3, 14: 4, 15: 10, 16: 12,
// 17: 4, 18: 2, 19: 4.
inline CondensedTree nested_tree() {
    CondensedTree tree{{{13, 12, 0.3, 1}, {13, 14, 0.5, 8}, {13, 15, 0.5, 4}}};
    auto points = [&](std::size_t parent, std::size_t first, double lambda) {
        for (std::size_t p = first; p < first + (parent >= 18 ? 2 : 4); ++p) {
            tree.edges.push_back({parent, p, lambda, 1});
        }
    };
    points(15, 8, 3.0);
    tree.edges.push_back({14, 16, 1.0, 4});
    tree.edges.push_back({14, 17, 1.0, 4});
    points(17, 4, 2.0);
    tree.edges.push_back({16, 18, 4.0, 2});
    tree.edges.push_back({16, 19, 4.0, 2});
    points(18, 0, 5.0);
    points(19, 2, 6.0);
    return tree;
}

// Five points: root 5 drops point 4 at 0.5 and splits at 1 into 6 (0, 1,
// leaving at 2) and 7 (2, 3, leaving at `right_lambda`). With right_lambda
// 2.25 the children's stabilities (2 + 2.5) equal the root's (4.5).
inline CondensedTree tie_tree(double right_lambda) {
    return {{{5, 4, 0.5, 1},
             {5, 6, 1.0, 2},
             {5, 7, 1.0, 2},
             {7, 2, right_lambda, 1},
             {7, 3, right_lambda, 1},
             {6, 0, 2.0, 1},
             {6, 1, 2.0, 1}}};
}

}  // namespace corvane::testing
