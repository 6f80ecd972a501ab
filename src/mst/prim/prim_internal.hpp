#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "common/internal_error.hpp"
#include "common/mst_edge.hpp"
#include "distance/distance_order.hpp"
#include "parallel/execution_context.hpp"

namespace corvane::prim_detail {

inline void check_neighbour_count(std::size_t k, std::size_t n) {
    if (k < 1 || k > n) {
        fail_internal("neighbour count " + std::to_string(k) + " out of range for " +
                      std::to_string(n) + " points");
    }
}

// Prim over an unordered list of remaining vertices, as used on Euclidean rows.
// The next vertex minimises (best weight, vertex number) with NaN weights last,
// so the tree does not depend on the order of the list. `Weights` supplies:
//   double weight(std::size_t tree_vertex, std::size_t u, double current):
//       the weight of edge (tree_vertex, u), or any value not below `current`
//       when it cannot beat `current`; the first evaluation of each vertex
//       (from vertex 0, with `current` = +infinity) must be exact;
//   double reported(double best): the edge weight in true units;
//   static constexpr bool resort: whether to sort the remaining vertices each
//       time their count falls to a multiple of 128, which only restores
//       memory locality.
template <class Weights>
std::vector<MstEdge> prim_on_rows(std::size_t n, Weights& weights,
                                  const ExecutionContext& context) {
    std::vector<MstEdge> edges;
    if (n <= 1) return edges;
    std::vector<std::size_t> remaining(n - 1);
    std::iota(remaining.begin(), remaining.end(), std::size_t{1});
    std::vector<double> best(n, std::numeric_limits<double>::infinity());
    std::vector<std::size_t> nearest(n, 0);
    edges.reserve(n - 1);

    // Running choice of the next vertex over one pass of the list.
    std::size_t chosen = 0;
    std::size_t chosen_pos = 0;
    const auto consider = [&](std::size_t pos) {
        const std::size_t u = remaining[pos];
        if (pos == 0 || distance_less(best[u], best[chosen]) ||
            (!distance_less(best[chosen], best[u]) && u < chosen)) {
            chosen = u;
            chosen_pos = pos;
        }
    };
    for (std::size_t pos = 0; pos < remaining.size(); ++pos) {
        const std::size_t u = remaining[pos];
        best[u] = weights.weight(0, u, best[u]);
        consider(pos);
    }
    while (!remaining.empty()) {
        context.check();
        const std::size_t v = chosen;
        edges.push_back({nearest[v], v, weights.reported(best[v])});
        remaining[chosen_pos] = remaining.back();
        remaining.pop_back();
        if constexpr (Weights::resort) {
            if (remaining.size() >= 128 && remaining.size() % 128 == 0) {
                std::sort(remaining.begin(), remaining.end());
            }
        }
        for (std::size_t pos = 0; pos < remaining.size(); ++pos) {
            const std::size_t u = remaining[pos];
            const double w = weights.weight(v, u, best[u]);
            if (distance_less(w, best[u])) {
                best[u] = w;
                nearest[u] = v;
            }
            consider(pos);
        }
    }
    return edges;
}

}  // namespace corvane::prim_detail
