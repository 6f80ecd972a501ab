#include "condensed_tree/persistence.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/internal_error.hpp"
#include "condensed_tree/condensed_index.hpp"

namespace corvane {

std::vector<double> compute_persistence(const CondensedTree& tree,
                                        const ClusterSelection& selection) {
    std::vector<double> persistence;
    if (tree.edges.empty()) return persistence;

    // The root is the smallest parent and its id is the number of points.
    std::size_t n = tree.edges.front().parent;
    for (const CondensedEdge& edge : tree.edges) {
        n = std::min(n, edge.parent);
    }
    return compute_persistence(index_condensed_tree(PackedCondensedTree(tree, n)), selection);
}

std::vector<double> compute_persistence(const CondensedIndex& index,
                                        const ClusterSelection& selection,
                                        const ExecutionContext& context) {
    std::vector<double> persistence;
    if (index.empty()) return persistence;
    const std::size_t n = index.n;

    constexpr double inf = std::numeric_limits<double>::infinity();
    persistence.reserve(selection.clusters.size());
    for_each_checked(context, 0, selection.clusters.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        if (c < n) fail_internal("persistence: selected id " + std::to_string(c) + " is a point");
        check_index(c, index.end(), "persistence: selected cluster");
        const double birth = index.lambda[c];
        const double last = index.last_departure[c - n];
        const double birth_distance = birth > 0.0 ? 1.0 / birth : inf;
        const double last_distance = last > 0.0 ? 1.0 / last : 0.0;
        const double span = birth_distance - last_distance;
        persistence.push_back(std::isnan(span) ? 0.0 : std::max(span, 0.0));
    });
    return persistence;
}

}  // namespace corvane
