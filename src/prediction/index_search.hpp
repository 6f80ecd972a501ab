#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "distance/euclidean/euclidean.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "distance/point_view.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "prediction/nearest_candidate.hpp"
#include "prediction/prediction_index.hpp"
#include "tree_common/no_node.hpp"

namespace corvane {

// DistanceFloor<Tree>: a value that euclidean_distance(point, row), as computed, never
// falls below for any row of a node. The search prunes on it, so it must hold after
// rounding, not just in exact arithmetic; rows are finite (the fit rejects anything
// else) and so is the query (PredictionIndex::nearest answers other queries itself).
template <class Tree>
struct DistanceFloor;

// The nearest point of the box is the query clamped to it, and the floor is
// euclidean_distance to that corner: the same expression as for a row, whose every
// coordinate difference is at least as large in magnitude (the box is tight around the
// rows). Subtraction, squaring, each addition of the fixed summation order and the square
// root all round monotonically, so the computed floor never exceeds a row's computed
// distance and needs no margin. +infinity means every row's distance overflows too.
template <>
struct DistanceFloor<KdTree> {
    const KdTree& tree;

    explicit DistanceFloor(const KdTree& kd_tree) : tree(kd_tree) {}

    double operator()(std::size_t node, const double* point, double* corner) const {
        const std::size_t dims = tree.dims;
        const double* lo = tree.lower_bounds.data() + node * dims;
        const double* hi = tree.upper_bounds.data() + node * dims;
        for (std::size_t j = 0; j < dims; ++j)
            corner[j] = std::clamp(point[j], lo[j], hi[j]);
        return euclidean_distance(PointView(point, dims), PointView(corner, dims));
    }
};

// Branch-and-bound search for the nearest training point under one-sided mutual
// reachability. A node's bound is the larger of its distance floor and its smallest core
// distance; it is pruned when the bound exceeds the best reachability so far (an equal
// bound is still searched, because an equal reachability at a lower index wins), or when
// it is +infinity (no finite reachability inside). Children are searched lower bound
// first, the left one on ties. Every row that survives is measured with
// euclidean_distance, exactly as the exhaustive scan measures it.
//
// Tree contract (KdTree): `nodes` in preorder with `is_leaf`, `left`,
// `right`, `start` and `end`; `tree_data` and `indices` in tree order; `dims`; and a
// DistanceFloor specialisation.
template <class Tree>
class IndexSearch {
  public:
    IndexSearch(const Tree& tree, const PredictionIndex& index, const double* point,
                double* scratch)
        : tree_(tree), floor_(tree), index_(index), point_(point), scratch_(scratch) {}

    NearestCandidate run() {
        if (!tree_.nodes.empty()) visit(0, bound(0));
        return nearest_;
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();

    double bound(std::size_t node) const {
        if (node == NO_NODE) return INF;
        const double distance = floor_(node, point_, scratch_);
        const double core = index_.node_min_core[node];
        return distance > core ? distance : core;
    }

    bool pruned(double node_bound) const {
        return node_bound > nearest_.reachability || node_bound == INF;
    }

    // The first child by recursion, the second by continuing the loop: the recursion
    // depth is the tree depth.
    void visit(std::size_t node, double node_bound) {
        for (;;) {
            if (pruned(node_bound)) return;
            const auto& record = tree_.nodes[node];
            if (record.is_leaf) {
                scan(record.start, record.end);
                return;
            }
            const double left = bound(record.left);
            const double right = bound(record.right);
            const bool left_first = !(right < left);
            visit(left_first ? record.left : record.right, left_first ? left : right);
            node = left_first ? record.right : record.left;
            node_bound = left_first ? right : left;
        }
    }

    void scan(std::size_t start, std::size_t end) {
        const std::size_t dims = tree_.dims;
        const PointView query(point_, dims);
        const double* row = tree_.tree_data.data() + start * dims;
        for (std::size_t position = start; position < end; ++position, row += dims) {
            const double core = index_.core_distances[position];
            if (core > nearest_.reachability) continue;
            const double distance = euclidean_distance(query, PointView(row, dims));
            nearest_.offer(tree_.indices[position], one_sided_reachability(distance, core));
        }
    }

    const Tree& tree_;
    DistanceFloor<Tree> floor_;
    const PredictionIndex& index_;
    const double* point_;
    double* scratch_;
    NearestCandidate nearest_;
};

}  // namespace corvane
