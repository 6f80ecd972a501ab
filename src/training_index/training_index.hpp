#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "parallel/execution_context.hpp"
#include "search_space/cosine_space.hpp"
#include "training_index/nearest_candidate.hpp"

namespace corvane {

// Metrics whose distance is euclidean_distance: Euclidean, and Minkowski with p = 2.
bool uses_euclidean_distance(const Metric& metric);

// A spatial index over the training points of a fitted model with its core distances, so
// that the nearest training point of a new point under one-sided mutual reachability is
// found without looking at every one of them.
//
// Layout: a KdTree up to MAX_KD_DIMS columns, a BlockTree above (searched a block of new
// points at a time, blocked_nearest.hpp), over the training data as the model stores it
// (shifted); the Minkowski family always uses the KdTree, whose boxes bound every Lp
// distance. Under cosine the tree holds the rows scaled to unit length (CosineRows), a
// KdTree up to MAX_KD_DIMS columns and a BallTree above, and `cosine` the original rows in
// tree order; rows of zeros, at distance 0 from every point, stay out of the tree, and
// `zero_rows` is the best of them (smallest core distance, lowest index), `every_row` the
// best of all rows, the answer for a query of zeros. Next to the tree, the core distances
// in tree order, so that a leaf's core distances are one contiguous block like its rows,
// and the smallest core distance under every node. A training point's reachability is at
// least its core distance, so that minimum bounds a whole node from below whatever the
// query. The tree's indices are training row numbers.
//
// Immutable after build(); any number of threads may search it at once.
struct TrainingIndex {
    static constexpr std::size_t MAX_KD_DIMS = 16;

    Metric metric;
    std::variant<KdTree, BallTree, BlockTree> tree;
    std::vector<double> core_distances;  // tree order
    std::vector<double> node_min_core;   // one per tree node
    std::optional<CosineTreeRows> cosine;
    NearestCandidate zero_rows;
    NearestCandidate every_row;
    std::size_t n_points = 0;
    std::size_t dims = 0;

    // Whether an index can serve a model with this metric and training data: every
    // computed metric, except cosine data that CosineRows refuses.
    static bool serves(const DataMatrix& training_data, const Metric& metric);

    // Over finite training rows with one core distance each that the index serves
    // (internal error otherwise); the tree is built on the threads of `context`.
    static TrainingIndex build(const DataMatrix& training_data,
                               std::span<const double> core_distances,
                               const Metric& metric = Metric::euclidean(),
                               const ExecutionContext& context = ExecutionContext());

    // Doubles of scratch space that nearest() needs.
    std::size_t scratch_size() const { return 2 * dims; }

    // The nearest training point of `point` (dims coordinates, shifted like the training
    // data): the same point and the same reachability, bit for bit, as a scan of every
    // training point in index order with the metric's kernel (exhaustive_nearest).
    // `scratch` holds scratch_size() doubles.
    NearestCandidate nearest(const double* point, double* scratch) const;
};

}  // namespace corvane
