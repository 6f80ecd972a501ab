#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "distance/euclidean/euclidean.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "distance/point_view.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// Box bounds in the bound units of a search space (search_space/search_space.hpp): the
// per-column gaps between the box of `node` and `point`, or between two boxes, combined
// from column 0 by space.accumulate. The chord spaces take min_rdist_point and
// min_rdist_nodes instead, summed in the one Euclidean order so that they bound the
// computed squared distances without a margin.
// The gaps between the boxes [lo_a, hi_a] and [lo_b, hi_b], combined over `dims` columns
// from column 0; a point is the box whose bounds are both the point.
template <class Space>
double summed_box_gaps(const double* lo_a, const double* hi_a, const double* lo_b,
                       const double* hi_b, std::size_t dims, const Space& space) {
    double total = 0.0;
    for (std::size_t j = 0; j < dims; ++j) {
        const double gap = std::max(lo_b[j] - hi_a[j], 0.0) + std::max(lo_a[j] - hi_b[j], 0.0);
        total = space.accumulate(total, gap);
    }
    return total;
}

template <std::size_t Dims, class Space>
double box_bound(const KdTree& tree, std::size_t node, const double* point, const Space& space) {
    if constexpr (Space::chord) return tree.min_rdist_point<Dims>(node, point);
    const std::size_t n = Dims == DYNAMIC_DIMS ? tree.dims : Dims;
    return summed_box_gaps(point, point, tree.lower_bounds.data() + node * n,
                           tree.upper_bounds.data() + node * n, n, space);
}

template <std::size_t Dims, class Space>
double box_gap(const KdTree& tree, std::size_t a, std::size_t b, const Space& space) {
    const std::size_t n = Dims == DYNAMIC_DIMS ? tree.dims : Dims;
    const double* lo = tree.lower_bounds.data();
    const double* hi = tree.upper_bounds.data();
    return summed_box_gaps(lo + a * n, hi + a * n, lo + b * n, hi + b * n, n, space);
}

// A lower bound, in search units, on the distance between any row of node a and any row
// of node b. `Dims` fixes the column count at compile time (DYNAMIC_DIMS: tree.dims).
template <std::size_t Dims = DYNAMIC_DIMS, class Space>
double node_gap(const KdTree& tree, const Space& space, std::size_t a, std::size_t b) {
    if constexpr (Space::chord) {
        return space.lower(tree.min_rdist_nodes<Dims>(a, b));
    } else {
        return space.lower(box_gap<Dims>(tree, a, b, space));
    }
}

// The k-nearest-neighbour search of a KdTree: depth first, near child (the side of the
// splitting plane the query lies on, the left one when on the plane) before far child.
// A far child waits with its plane bound (the gap to the splitting plane, in bound units)
// and is pruned when it is taken up if that reaches the limit of the worst kept row; any
// node is pruned once its box bound reaches that limit. Equal values prune: a row at
// exactly the worst kept distance would be rejected by the full heap anyway.
template <std::size_t Dims, class Space>
class KnnRule<KdTree, Dims, Space> {
  public:
    struct Entry {
        std::size_t node;
        double plane;  // bound to the splitting plane (a stacked far child)
    };

    explicit KnnRule(const Space& space) : space_(space) {}

    Entry root(const KdTree& tree, const double*) const {
        return {tree.nodes.empty() ? NO_NODE : 0, 0.0};
    }

    bool prunes(const KdTree& tree, const double* point, const Entry& entry, double limit) const {
        return box_bound<Dims>(tree, entry.node, point, space_) >= limit;
    }

    bool outdated(const Entry& entry, double limit) const { return limit <= entry.plane; }

    std::pair<Entry, Entry> children(const KdTree& tree, const double* point, const KdNode& record,
                                     bool) const {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree.dims : Dims;
        // Without columns every row sits at the same place; take the left child first.
        const double diff = dims == 0 ? 0.0 : point[record.split_dim] - record.split_value;
        const bool left_near = diff <= 0.0;
        return {{left_near ? record.left : record.right, 0.0},
                {left_near ? record.right : record.left, space_.accumulate(0.0, std::fabs(diff))}};
    }

    void limit_changed(const Limit&) const {}

  private:
    const Space& space_;
};

// The nearest point of the box is the query clamped to it, and the floor is
// euclidean_distance to that corner: the same expression as for a row, whose every
// coordinate difference is at least as large in magnitude (the box is tight around the
// rows). Subtraction, squaring, each addition of the fixed summation order and the square
// root all round monotonically, so the computed floor never exceeds a row's computed
// distance and needs no margin. +infinity means every row's distance overflows too.
// `corner` is scratch space for dims values.
template <>
class DistanceFloor<KdTree> {
  public:
    explicit DistanceFloor(const KdTree& tree) : tree_(tree) {}

    double operator()(std::size_t node, const double* point, double* corner) const {
        const std::size_t dims = tree_.dims;
        const double* lo = tree_.lower_bounds.data() + node * dims;
        const double* hi = tree_.upper_bounds.data() + node * dims;
        for (std::size_t j = 0; j < dims; ++j)
            corner[j] = std::clamp(point[j], lo[j], hi[j]);
        return euclidean_distance(PointView(point, dims), PointView(corner, dims));
    }

  private:
    const KdTree& tree_;
};

}  // namespace corvane
