#include "outlier/outlier_scores.hpp"

#include <algorithm>
#include <cmath>

#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "outlier/glosh.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

std::vector<double> outlier_scores(const CondensedTree& tree, std::size_t n) {
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, n));
    if (index.empty()) return std::vector<double>(n, 0.0);
    return outlier_scores(index);
}

std::vector<double> glosh_deepest(const CondensedIndex& index, const ExecutionContext& context) {
    std::vector<double> deepest = index.deepest_point;
    // Children have larger ids than their parents: a descending pass carries
    // each subtree's deepest lambda up before the parent is read.
    for_each_checked_descending(context, index.root() + 1, index.end(), [&](std::size_t c) {
        double& up = deepest[index.parent[c] - index.n];
        up = std::max(up, deepest[c - index.n]);
    });
    return deepest;
}

std::vector<double> outlier_scores(const CondensedIndex& index, const ExecutionContext& context) {
    const std::size_t n = index.n;
    std::vector<double> scores(n, 0.0);
    const std::vector<double> deepest = glosh_deepest(index, context);
    for_each_index(context, n, [&](std::size_t p) {
        scores[p] = glosh_score(deepest[index.parent[p] - n], index.lambda[p]);
    });
    return scores;
}

std::vector<double> outlier_scores(const PackedCondensedTree& tree, std::span<const double> deepest,
                                   const ExecutionContext& context) {
    const std::size_t n = tree.points();
    std::vector<double> scores(n, 0.0);
    for_each_point_edge(tree, context, [&](std::size_t point, std::size_t parent, double lambda) {
        scores[point] = glosh_score(deepest[parent - n], lambda);
    });
    return scores;
}

}  // namespace corvane
