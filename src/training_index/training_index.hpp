#pragma once

#include <cstddef>
#include <span>
#include <variant>
#include <vector>

#include "block_search/block_tree.hpp"
#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "training_index/nearest_candidate.hpp"

namespace corvane {

// Metrics whose distance is euclidean_distance: Euclidean, and Minkowski with p = 2. The
// index serves only these.
bool uses_euclidean_distance(const Metric& metric);

// A spatial index over the training points of a fitted model with its core distances, so
// that the nearest training point of a new point under one-sided mutual reachability is
// found without looking at every one of them.
//
// Layout: a KdTree up to MAX_KD_DIMS columns, a BlockTree above (searched a block of new
// points at a time, blocked_nearest.hpp), over the training data as the model stores it
// (shifted). Next to the tree, the core distances in tree order, so
// that a leaf's core distances are one contiguous block like its rows, and the smallest
// core distance under every node. A training point's reachability is at least its core
// distance, so that minimum bounds a whole node from below whatever the query.
//
// Immutable after build(); any number of threads may search it at once.
struct TrainingIndex {
    static constexpr std::size_t MAX_KD_DIMS = 16;

    std::variant<KdTree, BlockTree> tree;
    std::vector<double> core_distances;  // tree order
    std::vector<double> node_min_core;   // one per tree node
    std::size_t n_points = 0;
    std::size_t dims = 0;

    // Over finite training rows with one core distance each (internal error otherwise);
    // the tree is built on the threads of `context`.
    static TrainingIndex build(const DataMatrix& training_data,
                               std::span<const double> core_distances,
                               const ExecutionContext& context = ExecutionContext());

    // The nearest training point of `point` (dims coordinates, shifted like the training
    // data): the same point and the same reachability, bit for bit, as a scan of every
    // training point in index order with euclidean_distance (exhaustive_nearest).
    // `scratch` holds dims doubles.
    NearestCandidate nearest(const double* point, double* scratch) const;
};

}  // namespace corvane
