#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "ball_tree/ball_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// A lower bound, in search units, on the distance between any row of node a and any row
// of node b; ball trees serve the chord spaces only.
// `Dims` is accepted for the dual-tree search's sake: a ball bound has no column loop.
template <std::size_t Dims = DYNAMIC_DIMS, class Space>
double node_gap(const BallTree& tree, const Space& space, std::size_t a, std::size_t b) {
    static_assert(Space::chord, "a ball tree bounds Euclidean distances only");
    return space.lower(tree.min_rdist_nodes(a, b));
}

// The k-nearest-neighbour search of a BallTree: depth first, nearer centroid first (left
// on ties). Each child carries its squared centroid distance c from the moment its parent
// is split, and a full heap prunes it, then and again when it is taken up, once c reaches
// (kth + radius)^2, kth being the square root of the limit of the worst kept distance (in
// the chord spaces a squared Euclidean distance). A node exactly at that distance is
// pruned.
//
// `kth_` is refreshed only after a leaf that changed the worst kept distance, so there is
// one square root per such leaf instead of one per visited node.
template <std::size_t Dims, class Space>
class KnnRule<BallTree, Dims, Space> {
    static_assert(Space::chord, "a ball tree bounds Euclidean distances only");

  public:
    struct Entry {
        std::size_t node;  // NO_NODE when missing or already pruned
        double c;          // squared distance from the query to its centroid
    };

    explicit KnnRule(const Space&) {}

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

    void limit_changed(const Limit& limit) { kth_ = std::sqrt(limit.bound); }

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

// Triangle inequality: |x - row| >= |x - centroid| - radius. The centroid distance, the
// stored radius and a row's computed distance each carry a relative rounding error of
// about (dims / 2 + 2) units in the last place of their size, and every size involved is
// at most centroid distance + radius, so the floor gives up
// (centroid distance + radius) * 2 (dims + 8) epsilon. Squares that fall below the
// smallest normal double lose their relative precision; their absolute error, at most
// sqrt(dims) * 2^-537.5 after the square root, is covered by the absolute slack. An
// overflowing centroid distance gives NaN, which never prunes. The cosine training index
// above 16 columns searches a ball tree of unit rows with it.
template <>
class DistanceFloor<BallTree> {
  public:
    explicit DistanceFloor(const BallTree& tree)
        : tree_(tree),
          relative_slack_(2.0 * (static_cast<double>(tree.dims) + 8.0) *
                          std::numeric_limits<double>::epsilon()),
          absolute_slack_(std::ldexp(4.0 * std::sqrt(static_cast<double>(tree.dims) + 1.0), -537)) {
    }

    double operator()(std::size_t node, const double* point, double*) const {
        const double centre = std::sqrt(squared_distance(tree_.centroid(node), point, tree_.dims));
        const double radius = tree_.nodes[node].radius;
        return (centre - radius) - ((centre + radius) * relative_slack_ + absolute_slack_);
    }

  private:
    const BallTree& tree_;
    double relative_slack_;
    double absolute_slack_;
};

}  // namespace corvane
