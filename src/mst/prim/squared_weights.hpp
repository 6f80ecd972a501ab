#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "mst/mutual_reachability.hpp"

namespace corvane::prim_detail {

// Squared weights max(c(x)^2, c(y)^2, d^2(x, y)) for Prim on Euclidean data
// with alpha = 1, d^2 from `SquaredDistance` (rows or a Gram matrix). A pair is
// skipped, without evaluating its distance, when a core term or the distance
// alone already reaches the current weight: the weight could not drop below it
// (and against +infinity a skip happens only when the weight is +infinity).
template <class SquaredDistance>
struct SquaredWeights {
    const std::vector<double>& core_sq;
    SquaredDistance distance_sq;
    static constexpr bool resort = true;

    double weight(std::size_t tree_vertex, std::size_t u, double current) const {
        const double core_tree = core_sq[tree_vertex];
        if (core_tree >= current || current <= core_sq[u]) return current;
        const double d2 = distance_sq(tree_vertex, u);
        if (d2 >= current) return current;
        return mutual_reachability_sq(core_sq[u], core_tree, d2);
    }
    static double reported(double best) { return std::sqrt(best); }
};

template <class SquaredDistance>
SquaredWeights(const std::vector<double>&, SquaredDistance) -> SquaredWeights<SquaredDistance>;

}  // namespace corvane::prim_detail
