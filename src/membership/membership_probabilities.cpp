#include "membership/membership_probabilities.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/internal_error.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/parallel.hpp"

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
                                             std::span<const std::int32_t> labels,
                                             const ExecutionContext& context) {
    const std::size_t n = index.n;
    if (labels.size() != n) fail_internal("membership_probabilities: one label per point");
    std::vector<double> probabilities(n, 0.0);
    if (selection.clusters.empty()) return probabilities;

    // owner[c - n]: the selected cluster at or above cluster c, if any.
    // Parents have smaller ids, so one ascending pass settles every cluster.
    constexpr std::size_t none = CondensedIndex::NO_PARENT;
    std::vector<std::size_t> owner(index.end() - n, none);
    for_each_checked(context, 0, selection.clusters.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        if (c < n) fail_internal("membership_probabilities: selected id is a point");
        check_index(c, index.end(), "membership_probabilities: selected cluster");
        owner[c - n] = c;
    });
    for_each_checked(context, index.root() + 1, index.end(), [&](std::size_t c) {
        if (owner[c - n] == none) owner[c - n] = owner[index.parent[c] - n];
    });

    // Per selected cluster, in label order: its birth lambda and the span from there to
    // the deepest finite point lambda inside it.
    struct Span {
        double birth = 0.0;
        double length = 0.0;
    };
    std::vector<double> deepest(index.end() - n, 0.0);
    for_each_checked(context, index.root(), index.end(), [&](std::size_t c) {
        const std::size_t o = owner[c - n];
        if (o != none) deepest[o - n] = std::max(deepest[o - n], index.deepest_point[c - n]);
    });
    std::vector<Span> spans(selection.clusters.size());
    for_each_checked(context, 0, spans.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        double birth = index.lambda[c];
        if (std::isinf(birth)) birth = 0.0;
        spans[k] = {birth, deepest[c - n] - birth};
    });

    for_each_index(context, n, [&](std::size_t p) {
        if (labels[p] < 0) return;
        const auto k = static_cast<std::size_t>(labels[p]);
        check_index(k, spans.size(), "membership_probabilities: label");
        const Span span = spans[k];
        const double lambda = owner[index.parent[p] - n] != none
                                  ? index.lambda[p]
                                  : -std::numeric_limits<double>::infinity();
        if (std::isfinite(span.length) && span.length > 0.0) {
            probabilities[p] = std::min(1.0, std::max(0.0, (lambda - span.birth) / span.length));
        } else {
            probabilities[p] = 1.0;
        }
    });
    return probabilities;
}

}  // namespace corvane
