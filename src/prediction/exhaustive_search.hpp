#pragma once

#include <cstddef>

#include "distance/point_view.hpp"
#include "model/fitted_model.hpp"
#include "training_index/nearest_candidate.hpp"

namespace corvane {

// The nearest training point of one new point, looking at every training point in index
// order. This is the reference every faster route has to reproduce bit for bit.
//
// `point` holds the model's n_features() coordinates, already multiplied by 2^shift like
// the training data; `kernel` is the model's metric kernel from visit_metric, so the
// metric is dispatched once per batch, not once per pair.
template <class Kernel>
NearestCandidate exhaustive_nearest(const FittedModel& model, const Kernel& kernel,
                                    const double* point) {
    const std::size_t dims = model.n_features();
    const PointView query(point, dims);
    NearestCandidate nearest;
    for (std::size_t j = 0; j < model.n(); ++j) {
        const double distance = kernel(query, PointView(model.training_data.row(j), dims));
        nearest.offer(j, one_sided_reachability(distance, model.core_distances[j]));
    }
    return nearest;
}

// Under Precomputed a new point is given by its distances to the n training points.
inline NearestCandidate precomputed_nearest(const FittedModel& model, const double* distances) {
    NearestCandidate nearest;
    for (std::size_t j = 0; j < model.n(); ++j) {
        nearest.offer(j, one_sided_reachability(distances[j], model.core_distances[j]));
    }
    return nearest;
}

}  // namespace corvane
