#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "distance/euclidean/euclidean.hpp"
#include "distance/point_view.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// The k-nearest-neighbour search of a KdTree: depth first, near child (the side of the
// splitting plane the query lies on, the left one when on the plane) before far child.
// A far child waits with its squared plane distance and is pruned when it is taken up if
// the plane is no nearer than the worst kept row; any node is pruned once its box is at
// least as far as that row. Equal distances prune: a row at exactly the worst kept
// distance would be rejected by the full heap anyway.
template <std::size_t Dims>
class KnnRule<KdTree, Dims> {
  public:
    struct Entry {
        std::size_t node;
        double plane_sq;  // squared distance to the splitting plane (a stacked far child)
    };

    Entry root(const KdTree& tree, const double*) const {
        return {tree.nodes.empty() ? NO_NODE : 0, 0.0};
    }

    bool prunes(const KdTree& tree, const double* point, const Entry& entry, double kth_sq) const {
        return tree.min_rdist_point<Dims>(entry.node, point) >= kth_sq;
    }

    bool outdated(const Entry& entry, double kth_sq) const { return kth_sq <= entry.plane_sq; }

    std::pair<Entry, Entry> children(const KdTree& tree, const double* point, const KdNode& record,
                                     bool) const {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree.dims : Dims;
        // Without columns every row sits at the same place; take the left child first.
        const double diff = dims == 0 ? 0.0 : point[record.split_dim] - record.split_value;
        const bool left_near = diff <= 0.0;
        return {{left_near ? record.left : record.right, 0.0},
                {left_near ? record.right : record.left, diff * diff}};
    }

    void leaf_done(double, double) const {}
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
