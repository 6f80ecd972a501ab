#include "outlier/outlier_scores.hpp"

#include <algorithm>
#include <cmath>

#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"

namespace corvane {

std::vector<double> outlier_scores(const CondensedTree& tree, std::size_t n) {
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, n));
    if (index.empty()) return std::vector<double>(n, 0.0);
    return outlier_scores(index);
}

std::vector<double> outlier_scores(const CondensedIndex& index, const ExecutionContext& context) {
    const std::size_t n = index.n;
    std::vector<double> scores(n, 0.0);

    std::vector<double> deepest = index.deepest_point;
    // Children have larger ids than their parents: a descending pass carries
    // each subtree's deepest lambda up before the parent is read.
    for_each_checked_descending(context, index.root() + 1, index.end(), [&](std::size_t c) {
        double& up = deepest[index.parent[c] - n];
        up = std::max(up, deepest[c - n]);
    });

    for_each_checked(context, 0, n, [&](std::size_t p) {
        const double m = deepest[index.parent[p] - n];
        if (std::isfinite(m) && m > 0.0) {
            scores[p] = std::min(1.0, std::max(0.0, (m - index.lambda[p]) / m));
        }
    });
    return scores;
}

}  // namespace corvane
