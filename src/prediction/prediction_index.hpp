#pragma once

#include <cstddef>
#include <variant>
#include <vector>

#include "block_search/block_tree.hpp"
#include "common/metric.hpp"
#include "hdbscan/fitted_model.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "prediction/nearest_candidate.hpp"

namespace corvane {

// Models whose distance is euclidean_distance: Euclidean, and Minkowski with p = 2.
bool uses_euclidean_distance(const Metric& metric);

// A spatial index over the training points of a Euclidean model, so that the nearest
// training point under one-sided mutual reachability is found without looking at every
// one of them.
//
// Layout: a KdTree up to MAX_KD_DIMS columns, a BlockTree above, over the model's stored
// (shifted) training data. Next to the tree, the core distances in tree order, so that a
// leaf's core distances are one contiguous block like its rows, and the smallest core
// distance under every node. A training point's reachability is at least its core
// distance, so that minimum bounds a whole node from below whatever the query.
//
// Immutable after build(); any number of threads may search it at once.
struct PredictionIndex {
    static constexpr std::size_t MAX_KD_DIMS = 16;

    std::variant<KdTree, BlockTree> tree;
    std::vector<double> core_distances;  // tree order
    std::vector<double> node_min_core;   // one per tree node
    std::size_t n_points = 0;
    std::size_t dims = 0;

    // Requires a Euclidean model with consistent arrays (internal error otherwise).
    static PredictionIndex build(const PredictionData& model);

    // The nearest training point of `point` (dims coordinates, shifted like the training
    // data): the same point and the same reachability, bit for bit, as
    // exhaustive_nearest with the Euclidean kernel. `scratch` holds dims doubles.
    NearestCandidate nearest(const double* point, double* scratch) const;
};

}  // namespace corvane
