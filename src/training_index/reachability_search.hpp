#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <utility>

#include "distance/euclidean/euclidean.hpp"
#include "distance/point_view.hpp"
#include "training_index/nearest_candidate.hpp"
#include "tree_common/depth_first.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// Branch-and-bound search for the nearest training point under one-sided mutual
// reachability, a search for walk_depth_first. A node's bound is the larger of its
// DistanceFloor and its smallest core distance; it is pruned when the bound exceeds the
// best reachability so far (an equal bound is still searched, because an equal
// reachability at a lower index wins), or when it is +infinity (no finite reachability
// inside). Children are searched lower bound first, the left one on ties. Every row that
// survives is measured with euclidean_distance, exactly as the exhaustive scan measures
// it.
//
// `position_core` holds the core distances in tree order and `node_min_core` the smallest
// of them under each node; `corner` is scratch space for dims values.
template <SpatialTree Tree>
class ReachabilitySearch {
  public:
    struct Entry {
        std::size_t node;
        double bound;
    };
    using Node = typename Tree::Node;

    ReachabilitySearch(const Tree& tree, std::span<const double> position_core,
                       std::span<const double> node_min_core, const double* point, double* corner)
        : floor_(tree),
          position_core_(position_core),
          node_min_core_(node_min_core),
          point_(point),
          corner_(corner) {}

    const NearestCandidate& nearest() const { return nearest_; }

    Entry root(const Tree& tree) const {
        if (tree.nodes.empty()) return {NO_NODE, INF};
        return {0, bound(0)};
    }

    bool pruned(const Tree&, const Entry& entry) const {
        return entry.bound > nearest_.reachability || entry.bound == INF;
    }

    bool outdated(const Entry&) const { return false; }

    std::pair<Entry, Entry> children(const Tree&, const Node& record) const {
        const Entry left{record.left, bound(record.left)};
        const Entry right{record.right, bound(record.right)};
        if (right.bound < left.bound) return {right, left};
        return {left, right};
    }

    void leaf(const Tree& tree, const Node& record) {
        const std::size_t dims = tree.dims;
        const PointView query(point_, dims);
        const double* row = tree.row(record.start);
        for (std::size_t position = record.start; position < record.end; ++position, row += dims) {
            const double core = position_core_[position];
            if (core > nearest_.reachability) continue;
            const double distance = euclidean_distance(query, PointView(row, dims));
            nearest_.offer(tree.indices[position], one_sided_reachability(distance, core));
        }
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();

    double bound(std::size_t node) const {
        if (node == NO_NODE) return INF;
        const double distance = floor_(node, point_, corner_);
        const double core = node_min_core_[node];
        return distance > core ? distance : core;
    }

    DistanceFloor<Tree> floor_;
    std::span<const double> position_core_;
    std::span<const double> node_min_core_;
    const double* point_;
    double* corner_;
    NearestCandidate nearest_;
};

}  // namespace corvane
