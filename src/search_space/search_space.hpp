#pragma once

#include <cstddef>
#include <limits>

#include "distance/euclidean/squared_distance.hpp"
#include "mst/mutual_reachability.hpp"

namespace corvane {

// A search space tells the tree searches (kNN, dual-tree Boruvka) how to measure and
// bound distances under one metric, so that each search is written once over the tree
// type and once over the space. Three kinds of value are involved:
//
// - Search units: what a search compares, keeps in its heaps and candidate tables. For
//   SquaredEuclideanSpace the squared distance of the tree kernel (squared_distance.hpp);
//   for every other space the metric's distance exactly as compute_distance gives it, so
//   that every distance that decides anything is the one the dense route computes.
// - Bound units: what node bounds are accumulated in. A KdTree box bound sums the
//   per-column gaps with `accumulate(total, gap)` from 0.0; a BallTree bound, and the
//   KdTree bounds of the chord spaces, are squared Euclidean distances over the tree's
//   rows.
// - Limits: `limit(d)` turns a distance d in search units into bound units such that a
//   bound at or above the limit proves every distance it covers to be at least d, and
//   `lower(bound)` turns a bound into search units, never above any distance it covers;
//   it may fall below 0 by at most the space's margin, and keeps the order of bounds.
//   Where rounding could break these promises the conversion keeps a margin, argued next
//   to it.
//
// A space also offers:
// - `Query` and `query_at(tree, position)`: a tree row as a query; `bound_point(query)`
//   the coordinates the tree's bounds see;
// - `distance<Dims>(row, position, dims, query, limit)`: the exact distance in search
//   units to the tree row at `position` (`row` points at it) when below `limit` (the
//   Limit of a full heap's worst entry); otherwise any value at or above limit.units;
// - `pair_unless<Dims>(row_i, row_j, i, j, dims, settled, d)`: the exact distance between
//   the tree rows at positions i and j into d and true, or false once `settled(lower
//   bound)` holds for a lower bound in search units (then d holds that bound); `settled`
//   must hold for every value above one it holds for; `pair(tree, i, j)` the exact
//   distance alone;
// - `plain_limits`: whether limit(d) is {d, d}, so that a search can skip the conversion;
// - `core_units(core)`, `to_distance(units)`: between true distances and search units;
// - `reachability(alpha)`: the mutual-reachability weight in search units from the
//   larger core term and the distance, both in search units;
// - `chord`: whether the tree's own Euclidean bounds serve (SquaredEuclideanSpace and
//   CosineSpace; their trees may be ball trees). The other spaces bound through KdTree
//   boxes only.
//
// Spaces are small values that refer to data they do not own; any number of threads may
// use one at once.

// A threshold in both search and bound units.
struct Limit {
    double units = std::numeric_limits<double>::infinity();
    double bound = std::numeric_limits<double>::infinity();
};

// Mutual reachability in true units, max(core, d / alpha), for the spaces whose search
// units are distances: the value mutual_reachability() gives for the same operands.
class PlainReachability {
  public:
    explicit PlainReachability(double alpha) : alpha_(alpha), unit_alpha_(alpha == 1.0) {}

    double operator()(double core, double distance) const {
        return max_ignoring_nan(core, unit_alpha_ ? distance : distance / alpha_);
    }

    // Whether the weight is the plain maximum of the core term and a term of the distance
    // alone (see MutualReachabilitySq): always.
    bool plain_max() const { return true; }

  private:
    double alpha_;
    bool unit_alpha_;
};

// Queries that are rows in the tree's own coordinates, for the spaces whose bounds and
// distances both see the tree's rows.
struct RowQueries {
    struct Query {
        const double* point;
    };

    template <class Tree>
    Query query_at(const Tree& tree, std::size_t position) const {
        return {tree.row(position)};
    }
    static const double* bound_point(const Query& query) { return query.point; }
};

// Euclidean data: the tree's own rows and kernel, everything squared.
struct SquaredEuclideanSpace : RowQueries {
    static constexpr bool chord = true;
    static constexpr bool plain_limits = true;
    using Reachability = MutualReachabilitySq;

    static double accumulate(double total, double gap) { return total + gap * gap; }
    static Limit limit(double units) { return {units, units}; }
    static double lower(double bound) { return bound; }
    static double core_units(double core) { return core * core; }
    static double to_distance(double units) { return std::sqrt(units); }
    static Reachability reachability(double alpha) { return MutualReachabilitySq(alpha); }

    template <std::size_t Dims>
    double distance(const double* row, std::size_t, std::size_t dims, const Query& query,
                    const Limit& limit) const {
        return squared_distance<Dims>(row, query.point, dims, limit.units);
    }

    template <std::size_t Dims, class Settled>
    bool pair_unless(const double* a, const double* b, std::size_t, std::size_t, std::size_t dims,
                     const Settled& settled, double& d) const {
        return squared_distance_unless<Dims>(a, b, dims, settled, d);
    }

    template <class Tree>
    double pair(const Tree& tree, std::size_t i, std::size_t j) const {
        return squared_distance(tree.row(i), tree.row(j), tree.dims);
    }
};

}  // namespace corvane
