#include "outlier/outlier_scores.hpp"

#include <algorithm>
#include <cmath>

#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "outlier/glosh.hpp"

namespace corvane {

std::vector<double> outlier_scores(const CondensedTree& tree, std::size_t n) {
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, n));
    if (index.empty()) return std::vector<double>(n, 0.0);
    return outlier_scores(index);
}

std::vector<double> glosh_deepest(const CondensedIndex& index) {
    const std::size_t n = index.n;
    std::vector<double> deepest = index.deepest_point;
    // Children have larger ids than their parents: a descending pass carries
    // each subtree's deepest lambda up before the parent is read.
    for (std::size_t c = index.end(); c-- > index.root() + 1;) {
        double& up = deepest[index.parent[c] - n];
        up = std::max(up, deepest[c - n]);
    }
    return deepest;
}

std::vector<double> outlier_scores(const CondensedIndex& index) {
    const std::size_t n = index.n;
    std::vector<double> scores(n, 0.0);
    const std::vector<double> deepest = glosh_deepest(index);
    for (std::size_t p = 0; p < n; ++p) {
        scores[p] = glosh_score(deepest[index.parent[p] - n], index.lambda[p]);
    }
    return scores;
}

}  // namespace corvane
