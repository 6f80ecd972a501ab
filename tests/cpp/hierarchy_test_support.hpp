#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "common/mst_edge.hpp"

namespace corvane::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

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

// Minimum spanning tree of the mutual-reachability graph of 1-D points (core
// distance: distance to the k-th nearest point, the point itself counted), by
// a dense Prim. Small inputs only.
inline std::vector<MstEdge> mutual_reachability_mst(const std::vector<double>& x, std::size_t k) {
    const std::size_t n = x.size();
    std::vector<double> core(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<double> d;
        for (double y : x)
            d.push_back(std::abs(x[i] - y));
        std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(k - 1), d.end());
        core[i] = d[k - 1];
    }
    auto mr = [&](std::size_t i, std::size_t j) {
        return std::max({core[i], core[j], std::abs(x[i] - x[j])});
    };
    std::vector<char> in_tree(n, 0);
    std::vector<double> best(n, kInf);
    std::vector<std::size_t> from(n, 0);
    std::vector<MstEdge> edges;
    std::size_t current = 0;
    in_tree[0] = 1;
    for (std::size_t step = 1; step < n; ++step) {
        std::size_t next = n;
        for (std::size_t j = 0; j < n; ++j) {
            if (in_tree[j]) continue;
            if (mr(current, j) < best[j]) {
                best[j] = mr(current, j);
                from[j] = current;
            }
            if (next == n || best[j] < best[next]) next = j;
        }
        edges.push_back({from[next], next, best[next]});
        in_tree[next] = 1;
        current = next;
    }
    return edges;
}

}  // namespace corvane::testing
