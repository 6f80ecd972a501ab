#include "condensed_tree/cluster_selection.hpp"

#include <limits>
#include <vector>

#include "condensed_tree/condensed_index.hpp"

namespace corvane {

namespace {

// The clusters flagged in `chosen` that have no flagged ancestor, ascending.
// Flags are per cluster, indexed by id - n.
std::vector<std::size_t> topmost_flagged(const CondensedIndex& index,
                                         const std::vector<char>& chosen) {
    const std::size_t n = index.n;
    std::vector<char> covered(index.end() - n, 0);
    std::vector<std::size_t> result;
    for (std::size_t c = n; c < index.end(); ++c) {
        if (c != index.root()) {
            const std::size_t p = index.parent[c] - n;
            covered[c - n] = static_cast<char>(covered[p] || chosen[p]);
        }
        if (chosen[c - n] && !covered[c - n]) result.push_back(c);
    }
    return result;
}

// Stability of every cluster: the sum over its edges of
// (lambda - birth lambda) * child size. A span that is not positive (which
// includes +infinity - +infinity) counts as 0, so no stability is NaN.
std::vector<double> stabilities(const PackedCondensedTree& tree, const CondensedIndex& index) {
    const std::size_t n = index.n;
    std::vector<double> stability(index.end() - n, 0.0);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const CondensedEdge edge = tree.edge(i);
        const double birth = index.lambda[edge.parent];
        const double span = edge.lambda > birth ? edge.lambda - birth : 0.0;
        stability[edge.parent - n] += span * static_cast<double>(edge.child_size);
    }
    return stability;
}

// Children before parents (descending ids): a cluster whose own stability is
// at least its children's total keeps them out; otherwise it passes the total
// up. Every candidate that kept itself and has no such ancestor is selected,
// which is what deselecting the descendants of every kept cluster gives.
std::vector<std::size_t> excess_of_mass(const PackedCondensedTree& tree,
                                        const CondensedIndex& index, bool allow_single_cluster) {
    const std::size_t n = index.n;
    std::vector<double> stability = stabilities(tree, index);
    std::vector<char> kept(index.end() - n, 0);
    const std::size_t lowest = allow_single_cluster ? index.root() : index.root() + 1;
    for (std::size_t c = index.end(); c-- > lowest;) {
        const auto children = index.children_of(c);
        if (children.empty()) {
            kept[c - n] = 1;
            continue;
        }
        double sub = 0.0;
        for (std::size_t child : children) {
            sub += stability[child - n];
        }
        if (sub <= stability[c - n]) {
            kept[c - n] = 1;
        } else {
            stability[c - n] = sub;
        }
    }
    return topmost_flagged(index, kept);
}

std::vector<std::size_t> leaves(const CondensedIndex& index) {
    std::vector<std::size_t> result;
    for (std::size_t c = index.root(); c < index.end(); ++c) {
        if (index.children_of(c).empty()) result.push_back(c);
    }
    return result;
}

std::vector<std::size_t> apply_epsilon(const CondensedIndex& index,
                                       const std::vector<std::size_t>& selected, double epsilon,
                                       bool allow_single_cluster) {
    const std::size_t n = index.n;
    const std::size_t root = index.root();
    auto birth_distance = [&](std::size_t c) {
        const double lambda = index.lambda[c];
        if (c == root || lambda == 0.0) return std::numeric_limits<double>::infinity();
        return 1.0 / lambda;
    };

    // Per cluster: its nearest proper ancestor born at epsilon or above, and
    // the child of the root on its path. Parents come first in id order.
    std::vector<std::size_t> anchor(index.end() - n, root);
    std::vector<std::size_t> root_child(index.end() - n, root);
    for (std::size_t c = root + 1; c < index.end(); ++c) {
        const std::size_t p = index.parent[c];
        anchor[c - n] = birth_distance(p) >= epsilon ? p : anchor[p - n];
        root_child[c - n] = p == root ? c : root_child[p - n];
    }

    std::vector<char> chosen(index.end() - n, 0);
    for (std::size_t c : selected) {
        std::size_t target = c;
        if (birth_distance(c) < epsilon) {
            target = anchor[c - n];
            if (target == root && !allow_single_cluster) target = root_child[c - n];
        }
        chosen[target - n] = 1;
    }
    return topmost_flagged(index, chosen);
}

}  // namespace

ClusterSelection select_clusters(const CondensedTree& tree, std::size_t n,
                                 ClusterSelectionMethod method, bool allow_single_cluster,
                                 double cluster_selection_epsilon) {
    const PackedCondensedTree packed(tree, n);
    return select_clusters(packed, index_condensed_tree(packed), method, allow_single_cluster,
                           cluster_selection_epsilon);
}

ClusterSelection select_clusters(const PackedCondensedTree& tree, const CondensedIndex& index,
                                 ClusterSelectionMethod method, bool allow_single_cluster,
                                 double cluster_selection_epsilon) {
    ClusterSelection selection;
    if (index.empty()) return selection;
    selection.clusters = method == ClusterSelectionMethod::Eom
                             ? excess_of_mass(tree, index, allow_single_cluster)
                             : leaves(index);
    if (cluster_selection_epsilon > 0.0) {
        selection.clusters = apply_epsilon(index, selection.clusters, cluster_selection_epsilon,
                                           allow_single_cluster);
    }
    return selection;
}

}  // namespace corvane
