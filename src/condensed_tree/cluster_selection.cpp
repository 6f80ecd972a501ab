#include "condensed_tree/cluster_selection.hpp"

#include <vector>

#include "condensed_tree/condensed_index.hpp"

namespace corvane {

namespace {

// Flags per cluster, indexed by id - n.
using ClusterFlags = std::vector<char>;

// The clusters flagged in `chosen` that have no flagged ancestor, ascending.
std::vector<std::size_t> topmost_flagged(const CondensedIndex& index, const ClusterFlags& chosen,
                                         const ExecutionContext& context) {
    const std::size_t n = index.n;
    ClusterFlags covered(index.end() - n, 0);
    std::vector<std::size_t> result;
    for_each_checked(context, n, index.end(), [&](std::size_t c) {
        if (c != index.root()) {
            const std::size_t p = index.parent[c] - n;
            covered[c - n] = static_cast<char>(covered[p] || chosen[p]);
        }
        if (chosen[c - n] && !covered[c - n]) result.push_back(c);
    });
    return result;
}

// Whether cluster c was born below, or above, the distance whose reciprocal is
// `inverse_distance`: compared as lambdas, so that a cluster born at exactly that distance
// is neither, however its lambda's reciprocal rounds.
bool born_below(const CondensedIndex& index, std::size_t c, double inverse_distance) {
    return index.lambda[c] > inverse_distance;
}
bool born_above(const CondensedIndex& index, std::size_t c, double inverse_distance) {
    return index.lambda[c] < inverse_distance;
}

// The clusters over a cap: more than max_cluster_size points, or born above epsilon_max.
// All clear without caps.
ClusterFlags clusters_over_caps(const PackedCondensedTree& tree, const CondensedIndex& index,
                                const SelectionParams& params, const ExecutionContext& context) {
    const std::size_t n = index.n;
    ClusterFlags over(index.end() - n, 0);
    const double inverse_epsilon_max = 1.0 / params.epsilon_max;
    if (params.max_cluster_size == SelectionParams::NO_SIZE_CAP && !(inverse_epsilon_max > 0.0)) {
        return over;
    }
    for_each_checked(context, index.root(), index.end(), [&](std::size_t c) {
        over[c - n] = static_cast<char>(tree.cluster_size(c) > params.max_cluster_size ||
                                        born_above(index, c, inverse_epsilon_max));
    });
    return over;
}

// The clusters over a cap with a cluster within the caps below them, which selection
// passes over (see select_clusters). Children have larger ids than their parents, so one
// descending pass learns of every cluster whether a cluster within the caps lies below it.
ClusterFlags barred_clusters(const CondensedIndex& index, const ClusterFlags& over,
                             const ExecutionContext& context) {
    const std::size_t n = index.n;
    ClusterFlags barred(index.end() - n, 0);
    ClusterFlags within_below(index.end() - n, 0);
    for_each_checked_descending(context, index.root(), index.end(), [&](std::size_t c) {
        barred[c - n] = static_cast<char>(within_below[c - n] && over[c - n]);
        if (c == index.root()) return;
        const std::size_t p = index.parent[c] - n;
        within_below[p] = static_cast<char>(within_below[p] || within_below[c - n] || !over[c - n]);
    });
    return barred;
}

// Stability of every cluster: the sum over its edges of
// (lambda - birth lambda) * child size. A span that is not positive (which
// includes +infinity - +infinity) counts as 0, so no stability is NaN.
std::vector<double> stabilities(const PackedCondensedTree& tree, const CondensedIndex& index,
                                const ExecutionContext& context) {
    const std::size_t n = index.n;
    std::vector<double> stability(index.end() - n, 0.0);
    for_each_checked(context, 0, tree.size(), [&](std::size_t i) {
        const CondensedEdge edge = tree.edge(i);
        const double birth = index.lambda[edge.parent];
        const double span = edge.lambda > birth ? edge.lambda - birth : 0.0;
        stability[edge.parent - n] += span * static_cast<double>(edge.child_size);
    });
    return stability;
}

// Children before parents (descending ids): a cluster whose own stability is
// at least its children's total keeps them out, unless it is barred; otherwise
// it passes the total up. Every candidate that kept itself and has no such
// ancestor is selected, which is what deselecting the descendants of every kept
// cluster gives.
std::vector<std::size_t> excess_of_mass(const PackedCondensedTree& tree,
                                        const CondensedIndex& index, const ClusterFlags& barred,
                                        bool allow_single_cluster,
                                        const ExecutionContext& context) {
    const std::size_t n = index.n;
    std::vector<double> stability = stabilities(tree, index, context);
    ClusterFlags kept(index.end() - n, 0);
    const std::size_t lowest = allow_single_cluster ? index.root() : index.root() + 1;
    for_each_checked_descending(context, lowest, index.end(), [&](std::size_t c) {
        const auto children = index.children_of(c);
        if (children.empty()) {
            kept[c - n] = 1;
            return;
        }
        double sub = 0.0;
        for (std::size_t child : children) {
            sub += stability[child - n];
        }
        if (sub <= stability[c - n] && !barred[c - n]) {
            kept[c - n] = 1;
        } else {
            stability[c - n] = sub;
        }
    });
    return topmost_flagged(index, kept, context);
}

std::vector<std::size_t> leaves(const CondensedIndex& index, const ExecutionContext& context) {
    std::vector<std::size_t> result;
    for_each_checked(context, index.root(), index.end(), [&](std::size_t c) {
        if (index.children_of(c).empty()) result.push_back(c);
    });
    return result;
}

std::vector<std::size_t> apply_epsilon(const CondensedIndex& index, const ClusterFlags& over,
                                       const std::vector<std::size_t>& selected, double epsilon,
                                       bool allow_single_cluster, const ExecutionContext& context) {
    const std::size_t n = index.n;
    const std::size_t root = index.root();
    const double inverse_epsilon = 1.0 / epsilon;

    // Per cluster born below epsilon: where its climb ends, the nearest ancestor born at
    // epsilon or above, or the cluster below the first ancestor it may not climb onto.
    // Parents come first in id order.
    std::vector<std::size_t> climb(index.end() - n, root);
    for_each_checked(context, root + 1, index.end(), [&](std::size_t c) {
        const std::size_t p = index.parent[c];
        if (over[p - n] || (p == root && !allow_single_cluster)) {
            climb[c - n] = c;
        } else {
            climb[c - n] = born_below(index, p, inverse_epsilon) ? climb[p - n] : p;
        }
    });

    ClusterFlags chosen(index.end() - n, 0);
    for_each_checked(context, 0, selected.size(), [&](std::size_t k) {
        const std::size_t c = selected[k];
        chosen[(born_below(index, c, inverse_epsilon) ? climb[c - n] : c) - n] = 1;
    });
    return topmost_flagged(index, chosen, context);
}

}  // namespace

ClusterSelection select_clusters(const CondensedTree& tree, std::size_t n,
                                 const SelectionParams& params) {
    const PackedCondensedTree packed(tree, n);
    return select_clusters(packed, index_condensed_tree(packed), params);
}

ClusterSelection select_clusters(const PackedCondensedTree& tree, const CondensedIndex& index,
                                 const SelectionParams& params, const ExecutionContext& context) {
    ClusterSelection selection;
    if (index.empty()) return selection;
    const ClusterFlags over = clusters_over_caps(tree, index, params, context);
    selection.clusters = params.method == ClusterSelectionMethod::Eom
                             ? excess_of_mass(tree, index, barred_clusters(index, over, context),
                                              params.allow_single_cluster, context)
                             : leaves(index, context);
    if (params.epsilon > 0.0) {
        selection.clusters = apply_epsilon(index, over, selection.clusters, params.epsilon,
                                           params.allow_single_cluster, context);
    }
    return selection;
}

}  // namespace corvane
