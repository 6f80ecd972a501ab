#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "common/mst_edge.hpp"
#include "common/params.hpp"
#include "common/stage_clock.hpp"
#include "hierarchy/hierarchy.hpp"
#include "training_index/lazy_training_index.hpp"

namespace corvane {

// Bytes a model holds, by part.
struct ModelBytes {
    std::size_t training_data = 0;
    std::size_t core_distances = 0;
    std::size_t hierarchy = 0;
    std::size_t results = 0;  // labels, probabilities, outlier scores, persistence
};

// The most memory the hierarchy's steps take per point beyond the training data, which a
// fit or a restore makes sure of before they start: the model at rest (about 80 bytes per
// point) and the largest step's scratch.
inline constexpr std::size_t HIERARCHY_BYTES_PER_POINT = 128;

// What one successful fit leaves behind, each piece once: what saving a model keeps, what
// the exports read and what re-selection rewrites. Replaced as a whole by the next fit.
// Other components depend on it, never the other way round; the index that prediction
// builds over the training points is a component below it (training_index), which the
// model owns so that the index lives exactly as long as the data it was built from.
//
// Units: the training data, the core distances and every distance in the hierarchy are
// those of the data multiplied by 2^magnitude_shift (magnitude_scaling.hpp), which keeps
// every metric's arithmetic clear of overflow and underflow; new points are shifted the
// same way before they are compared, and distances handed to the user (persistence) are
// converted back by distance_units().
struct FittedModel {
    Metric metric;
    int magnitude_shift = 0;
    std::size_t min_samples = 0;  // the neighbour count of the core distances
    double alpha = 1.0;           // the distance scale of mutual reachability
    // One row per point, in input order; the n x n matrix under Precomputed. Its width is
    // the model's number of features.
    DataMatrix training_data;
    std::vector<double> core_distances;  // per point
    Hierarchy hierarchy;

    // Derived from the hierarchy.
    std::vector<std::int32_t> labels;         // per point, -1 for noise
    std::vector<double> probabilities;        // per point, in [0, 1]; 0 for noise
    std::vector<double> outlier_scores;       // per point, in [0, 1]
    std::vector<double> cluster_persistence;  // per cluster in label order, data units

    // Built by the first prediction that pays for it; never saved.
    LazyTrainingIndex training_index;

    std::size_t n() const { return training_data.rows; }
    std::size_t n_features() const { return training_data.cols; }
    // The binary exponent of the model's distance unit: a distance d of the model is
    // ldexp(d, -distance_units()) in the units of the data.
    int distance_units() const;

    // What the model holds at rest; the training index is left out.
    ModelBytes bytes() const;
};

// The model of one fit: `training_data` and the `mst` computed on it, both in the
// model's units (shifted by `magnitude_shift`), then the hierarchy under `params` and
// every result derived from it, checking `context` for interruption between the steps.
// `clock`, when given, is charged with the hierarchy's steps.
FittedModel assemble_model(const HdbscanParams& params, DataMatrix training_data,
                           int magnitude_shift, MstResult mst, const ExecutionContext& context,
                           StageClock* clock = nullptr);

// What depends on min_cluster_size and the selection parameters of `params` (the
// condensed tree, the selection, labels, probabilities, persistence and outlier scores),
// computed from the model's hierarchy as assemble_model computes it; the other
// parameters are not read, and the model is not changed. `context` is checked for
// interruption between the steps.
HierarchySelection reselect_model(const FittedModel& model, const HdbscanParams& params,
                                  const ExecutionContext& context, StageClock* clock = nullptr);

// Makes `selected` the model's, with persistence in the units of the data; cannot fail.
void install_selection(FittedModel& model, HierarchySelection& selected) noexcept;

}  // namespace corvane
