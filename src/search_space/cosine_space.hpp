#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

#include "common/data_matrix.hpp"
#include "distance/distance.hpp"
#include "search_space/search_space.hpp"

namespace corvane {

// The rows of a cosine fit prepared for a tree: for unit vectors u and v,
// 1 - cos = |u - v|^2 / 2, so a Euclidean tree over the rows scaled to unit length bounds
// cosine distances. Rows whose sum of squares is 0 (the kernel's zero vectors, at
// distance 0 from everything) cannot be scaled and are left out; `kept` lists the others
// in row order, and `unit` holds them scaled, in that order.
struct CosineRows {
    std::vector<std::size_t> kept;
    DataMatrix unit;
};

// The rows prepared, or nothing when a row's sum of squares is positive but below 2^-900
// or not finite: the cosine kernel loses its relative precision there, and the margins
// of CosineSpace would not hold.
std::optional<CosineRows> prepare_cosine_rows(const DataMatrix& data);

// Square roots of the rows' sums of squares, each summed in index order from 0.0 as the
// cosine kernel sums them.
std::vector<double> cosine_root_norms(const DataMatrix& data);

// Cosine over a tree built from CosineRows::unit. Search units are the kernel's cosine
// distance, computed from the original rows in tree order (`exact`) and their root norms
// (`roots`) exactly as the kernel computes it; a row's distance to itself is 0, as in the
// dense route. Bounds are the tree's squared Euclidean distances between unit rows.
//
// Margin: with u the unit roundoff and d the column count, the kernel's dot product and
// norms are within d u of their true values relative to |x| |y|, so its distance is
// within (2d + 8) u of the true 1 - cos; the unit rows are within (d / 2 + 2) u of true
// unit vectors, so a squared chord between them, or a tree bound on it (a box or a ball,
// whose centre distance and radius err by up to 2 (d + 8) u relative on values below 2),
// exceeds twice the true 1 - cos by at most 32 (d + 8) u. Half a bound minus
// m = 64 (d + 8) u is therefore never above the kernel's distance, every value involved
// being at most 4.
struct CosineSpace {
    static constexpr bool chord = true;
    static constexpr bool plain_limits = false;
    using Reachability = PlainReachability;

    struct Query {
        const double* point;  // unit row, for the bounds
        const double* exact;
        double root;
        std::size_t self;  // tree position of the query, or none
    };

    CosineSpace(const double* exact_rows, const double* roots, std::size_t dims)
        : exact_(exact_rows),
          roots_(roots),
          margin_(64.0 * (static_cast<double>(dims) + 8.0) * EPSILON_HALF) {}

    template <class Tree>
    Query query_at(const Tree& tree, std::size_t position) const {
        return {tree.row(position), exact_ + position * tree.dims, roots_[position], position};
    }
    static const double* bound_point(const Query& query) { return query.point; }

    static double accumulate(double total, double gap) { return total + gap * gap; }
    Limit limit(double units) const { return {units, 2.0 * (units + margin_)}; }
    // Not clamped at 0: a bound below 2m proves nothing, but its value still orders the
    // nodes that Boruvka visits nearer first. Clamping would tie every such node at 0, and
    // on rows near a low-dimensional structure, whose boxes are thin and close, that
    // ordering saves most of the work.
    double lower(double bound) const { return 0.5 * bound - margin_; }
    static double core_units(double core) { return core; }
    static double to_distance(double units) { return units; }
    static Reachability reachability(double alpha) { return PlainReachability(alpha); }

    double exact(const double* a, double root_a, std::size_t position, std::size_t dims) const {
        const double* b = exact_ + position * dims;
        double dot = 0.0;
        for (std::size_t j = 0; j < dims; ++j)
            dot += a[j] * b[j];
        return metric_kernels::cosine_from_dot(dot, root_a, roots_[position]);
    }

    template <std::size_t Dims>
    double distance(const double*, std::size_t position, std::size_t dims, const Query& query,
                    const Limit&) const {
        if (position == query.self) return 0.0;
        return exact(query.exact, query.root, position, dims);
    }

    template <std::size_t Dims, class Settled>
    bool pair_unless(const double*, const double*, std::size_t i, std::size_t j, std::size_t dims,
                     const Settled&, double& d) const {
        d = exact(exact_ + i * dims, roots_[i], j, dims);
        return true;
    }

    template <class Tree>
    double pair(const Tree& tree, std::size_t i, std::size_t j) const {
        return exact(exact_ + i * tree.dims, roots_[i], j, tree.dims);
    }

    double margin() const { return margin_; }

  private:
    static constexpr double EPSILON_HALF = std::numeric_limits<double>::epsilon() / 2.0;

    const double* exact_;
    const double* roots_;
    double margin_;
};

// The original rows of a cosine fit in the order of a tree built from CosineRows::unit,
// with their root norms: what CosineSpace measures exact distances on.
struct CosineTreeRows {
    std::vector<double> exact;
    std::vector<double> roots;
    std::size_t dims = 0;

    template <class Tree>
    CosineTreeRows(const DataMatrix& data, const CosineRows& rows, const Tree& tree)
        : exact(tree.n_points * data.cols), roots(tree.n_points), dims(data.cols) {
        const std::vector<double> all_roots = cosine_root_norms(data);
        for (std::size_t position = 0; position < tree.n_points; ++position) {
            const std::size_t row = rows.kept[tree.indices[position]];
            std::copy_n(data.row(row), dims, exact.data() + position * dims);
            roots[position] = all_roots[row];
        }
    }

    CosineSpace space() const { return CosineSpace(exact.data(), roots.data(), dims); }
};

}  // namespace corvane
