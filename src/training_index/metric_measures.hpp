#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "ball_tree/ball_tree_bounds.hpp"
#include "distance/point_view.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "search_space/cosine_space.hpp"

namespace corvane {

// Measures of the reachability search (reachability_search.hpp) for the metrics other
// than Euclidean.

// The Minkowski family over a KdTree, with the metric's kernel. The nearest point of the
// box is the query clamped to it, and the floor is the kernel's distance to that corner:
// every coordinate difference of the corner is at most that of any row of the box after
// rounding. Manhattan and Chebyshev sum and compare those differences monotonically, so
// their floor needs no margin (`margin` 0). Under a general p each power and the root
// are within an ulp, so the floor gives up `margin` relative and 2^-960 absolute (for
// powers of subnormal size). A NaN coordinate stays NaN when clamped, and is skipped by
// the Chebyshev kernel in the floor as in the distance.
template <class Kernel>
class KernelMeasure {
  public:
    KernelMeasure(const KdTree& tree, const Kernel& kernel, double margin, const double* point,
                  double* corner)
        : tree_(tree), kernel_(kernel), margin_(margin), point_(point), corner_(corner) {}

    double floor(std::size_t node) const {
        const std::size_t dims = tree_.dims;
        const double* lo = tree_.lower_bounds.data() + node * dims;
        const double* hi = tree_.upper_bounds.data() + node * dims;
        for (std::size_t j = 0; j < dims; ++j)
            corner_[j] = std::clamp(point_[j], lo[j], hi[j]);
        const double d = kernel_(PointView(point_, dims), PointView(corner_, dims));
        return margin_ == 0.0 ? d : d * (1.0 - margin_) - 0x1p-960;
    }

    double distance(std::size_t position) const {
        return kernel_(PointView(point_, tree_.dims), PointView(tree_.row(position), tree_.dims));
    }

  private:
    const KdTree& tree_;
    Kernel kernel_;
    double margin_;
    const double* point_;
    double* corner_;
};

// Cosine over a tree of unit rows: the tree's Euclidean floor e for the query scaled to
// unit length bounds the chord, and e^2 / 2 less the margin of CosineSpace bounds the
// cosine distance (cosine_space.hpp). Distances are the kernel's, from the original
// query and its root norm.
template <class Tree>
class CosineMeasure {
  public:
    CosineMeasure(const Tree& tree, const CosineSpace& space, const double* unit_point,
                  const double* point, double root, double* corner)
        : tree_(tree),
          floor_(tree),
          space_(space),
          unit_point_(unit_point),
          point_(point),
          root_(root),
          corner_(corner) {}

    double floor(std::size_t node) const {
        const double chord = std::max(floor_(node, unit_point_, corner_), 0.0);
        return 0.5 * chord * chord - space_.margin();
    }

    double distance(std::size_t position) const {
        return space_.exact(point_, root_, position, tree_.dims);
    }

  private:
    const Tree& tree_;
    DistanceFloor<Tree> floor_;
    const CosineSpace& space_;
    const double* unit_point_;
    const double* point_;
    double root_;
    double* corner_;
};

}  // namespace corvane
