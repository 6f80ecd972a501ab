#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "common/mst_edge.hpp"
#include "hierarchy/hierarchy.hpp"
#include "model/fitted_model.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// What a fitted model is saved as: the parts that only a fit can compute, in the model's
// own units (fitted_model.hpp). The rest (the single-linkage and condensed trees, the
// selection, labels, probabilities, outlier scores and persistence) is derived again on
// restore by the steps a fit runs, which costs a small part of a fit and makes a restored
// model consistent by construction and equal to the saved one bit for bit.
struct SavedModel {
    Metric metric;
    int magnitude_shift = 0;
    std::size_t min_samples = 0;
    double alpha = 1.0;
    DataMatrix training_data;
    std::vector<double> core_distances;
    std::vector<MstEdge> spanning_tree;  // in merge order (SpanningTree)
    std::size_t min_cluster_size = 0;    // of the condensed tree the selection was made on
    SelectionParams selection;
};

// A part refused by restore_model: its name in a saved state and the reason.
struct SavedModelError {
    std::string field;
    std::string reason;
};

// The model that `saved` describes, after checking every part against what a fit can
// produce: a metric with a valid exponent; at least one training point, finite values
// (a square matrix of non-negative ones under Precomputed) and the shift that the data
// calls for; min_samples from 1 to the number of points; one finite, non-negative core
// distance per point; min_cluster_size of at least 2, max_cluster_size no smaller and an
// epsilon_max that is not NaN; n - 1 spanning-tree edges in merge order, between
// distinct points, with weights that are not NaN or negative, joining all n points. The first part
// refused gives an error; a model too large for the memory available throws std::bad_alloc before
// the hierarchy is built. `context` is checked for interruption as in a fit.
std::expected<FittedModel, SavedModelError> restore_model(
    SavedModel saved, const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
