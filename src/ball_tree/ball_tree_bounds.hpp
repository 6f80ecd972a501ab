#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "ball_tree/ball_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// The k-nearest-neighbour search of a BallTree: depth first, nearer centroid first (left
// on ties). Each child carries its squared centroid distance c from the moment its parent
// is split, and a full heap prunes it, then and again when it is taken up, once c reaches
// (kth + radius)^2, kth being the square root of the worst kept distance. A node exactly
// at that distance is pruned.
//
// `kth_` is refreshed only after a leaf that changed the worst kept distance, so there is
// one square root per such leaf instead of one per visited node.
template <std::size_t Dims>
class KnnRule<BallTree, Dims> {
  public:
    struct Entry {
        std::size_t node;  // NO_NODE when missing or already pruned
        double c;          // squared distance from the query to its centroid
    };

    Entry root(const BallTree& tree, const double* point) const {
        if (tree.nodes.empty()) return {NO_NODE, INF};
        return {0, squared_distance<Dims>(tree.centroid(0), point, tree.dims)};
    }

    bool prunes(const BallTree& tree, const double*, const Entry& entry, double) const {
        return entry.c >= prune_distance(tree.nodes[entry.node]);
    }

    bool outdated(const Entry&, double) const { return false; }

    // A child already at its pruning distance stays pruned for the rest of the query (the
    // worst kept distance only shrinks), so it is dropped here, before its centroid
    // distance is complete; the visiting order of the others is unchanged.
    std::pair<Entry, Entry> children(const BallTree& tree, const double* point,
                                     const BallNode& record, bool heap_full) const {
        const Entry left = child(tree, point, record.left, heap_full);
        const Entry right = child(tree, point, record.right, heap_full);
        if (left.c <= right.c) return {left, right};
        return {right, left};
    }

    void leaf_done(double before, double after) {
        if (after != before) kth_ = std::sqrt(after);
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();

    // Squared distance (kth + radius)^2 at or beyond which a full heap prunes the node.
    double prune_distance(const BallNode& record) const {
        const double reach = kth_ + record.radius;
        return reach * reach;
    }

    Entry child(const BallTree& tree, const double* point, std::size_t node, bool heap_full) const {
        if (node == NO_NODE) return {NO_NODE, INF};
        const double* centroid = tree.centroid(node);
        if (!heap_full) return {node, squared_distance<Dims>(centroid, point, tree.dims)};
        const double bound = prune_distance(tree.nodes[node]);
        const double c = squared_distance<Dims>(centroid, point, tree.dims, bound);
        return {c >= bound ? NO_NODE : node, c};
    }

    double kth_ = INF;
};

}  // namespace corvane
