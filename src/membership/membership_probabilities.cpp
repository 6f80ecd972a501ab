#include "membership/membership_probabilities.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/internal_error.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"

namespace corvane {

std::vector<double> membership_probabilities(const CondensedTree& tree,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels, std::size_t n) {
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, n));
    if (index.empty()) {
        if (labels.size() != n) fail_internal("membership_probabilities: one label per point");
        return std::vector<double>(n, 0.0);
    }
    return membership_probabilities(index, selection, labels);
}

std::vector<double> membership_probabilities(const CondensedIndex& index,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels) {
    const std::size_t n = index.n;
    if (labels.size() != n) fail_internal("membership_probabilities: one label per point");
    std::vector<double> probabilities(n, 0.0);
    if (selection.clusters.empty()) return probabilities;

    // owner[c - n]: the selected cluster at or above cluster c, if any.
    // Parents have smaller ids, so one ascending pass settles every cluster.
    constexpr std::size_t none = CondensedIndex::NO_PARENT;
    std::vector<std::size_t> owner(index.end() - n, none);
    for (std::size_t c : selection.clusters) {
        if (c < n) fail_internal("membership_probabilities: selected id is a point");
        check_index(c, index.end(), "membership_probabilities: selected cluster");
        owner[c - n] = c;
    }
    for (std::size_t c = index.root() + 1; c < index.end(); ++c) {
        if (owner[c - n] == none) owner[c - n] = owner[index.parent[c] - n];
    }

    std::vector<double> deepest(index.end() - n, 0.0);
    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t c = owner[index.parent[p] - n];
        const double lambda = index.lambda[p];
        if (c != none && std::isfinite(lambda)) {
            deepest[c - n] = std::max(deepest[c - n], lambda);
        }
    }

    for (std::size_t p = 0; p < n; ++p) {
        if (labels[p] < 0) continue;
        const auto k = static_cast<std::size_t>(labels[p]);
        check_index(k, selection.clusters.size(), "membership_probabilities: label");
        const std::size_t c = selection.clusters[k];
        double birth = index.lambda[c];
        if (std::isinf(birth)) birth = 0.0;
        const double span = deepest[c - n] - birth;
        const double lambda = owner[index.parent[p] - n] != none
                                  ? index.lambda[p]
                                  : -std::numeric_limits<double>::infinity();
        if (std::isfinite(span) && span > 0.0) {
            probabilities[p] = std::min(1.0, std::max(0.0, (lambda - birth) / span));
        } else {
            probabilities[p] = 1.0;
        }
    }
    return probabilities;
}

}  // namespace corvane
