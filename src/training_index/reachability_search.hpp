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
// reachability, a search for walk_depth_first. A node's bound is the larger of its floor
// and its smallest core distance; it is pruned when the bound exceeds the best
// reachability so far (an equal bound is still searched, because an equal reachability at
// a lower index wins), or when it is +infinity (no finite reachability inside). Children
// are searched lower bound first, the left one on ties.
//
// `Measure` knows the query: `floor(node)`, a value that the metric's distance from the
// query to any row of the node never falls below, after rounding, and
// `distance(position)`, that distance to the row at a tree position, exactly as the
// exhaustive scan measures it. `position_core` holds the core distances in tree order and
// `node_min_core` the smallest of them under each node.
template <SpatialTree Tree, class Measure>
class ReachabilitySearch {
  public:
    struct Entry {
        std::size_t node;
        double bound;
    };
    using Node = typename Tree::Node;

    ReachabilitySearch(const Measure& measure, std::span<const double> position_core,
                       std::span<const double> node_min_core)
        : measure_(measure), position_core_(position_core), node_min_core_(node_min_core) {}

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
        for (std::size_t position = record.start; position < record.end; ++position) {
            const double core = position_core_[position];
            if (core > nearest_.reachability) continue;
            nearest_.offer(tree.indices[position],
                           one_sided_reachability(measure_.distance(position), core));
        }
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();

    double bound(std::size_t node) const {
        if (node == NO_NODE) return INF;
        const double distance = measure_.floor(node);
        const double core = node_min_core_[node];
        return distance > core ? distance : core;
    }

    const Measure& measure_;
    std::span<const double> position_core_;
    std::span<const double> node_min_core_;
    NearestCandidate nearest_;
};

// Euclidean distances from one query: the tree's DistanceFloor and euclidean_distance
// over the tree's rows. `corner` is scratch space for dims values.
template <SpatialTree Tree>
class EuclideanMeasure {
  public:
    EuclideanMeasure(const Tree& tree, const double* point, double* corner)
        : tree_(tree), floor_(tree), point_(point), corner_(corner) {}

    double floor(std::size_t node) const { return floor_(node, point_, corner_); }

    double distance(std::size_t position) const {
        return euclidean_distance(PointView(point_, tree_.dims),
                                  PointView(tree_.row(position), tree_.dims));
    }

  private:
    const Tree& tree_;
    DistanceFloor<Tree> floor_;
    const double* point_;
    double* corner_;
};

}  // namespace corvane
