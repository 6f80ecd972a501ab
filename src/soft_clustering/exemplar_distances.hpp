#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "labels/points_by_cluster.hpp"
#include "parallel/execution_context.hpp"
#include "training_index/training_index.hpp"

namespace corvane {

// The distance part of soft clustering: for a point, the smallest distance under the
// fit's metric to an exemplar of each cluster.
//
// Every cluster's exemplars get a spatial index of their own (a TrainingIndex over their
// rows with core distances of 0, whose reachability is then the distance itself) where
// the index serves the metric; otherwise, and under Precomputed, every exemplar is
// measured. Either way the result is the smallest of the metric kernel's distances to the
// exemplars, bit for bit; distances that are NaN are no candidates, and a cluster with
// none left is at +infinity.
//
// Immutable once built; any number of threads may measure at once, each with its own
// scratch space.
class ExemplarDistances {
  public:
    // `training_data` (in the model's units) must outlive this; `exemplars` holds training
    // rows by cluster, in label order.
    ExemplarDistances(const DataMatrix& training_data, const Metric& metric,
                      PointsByCluster exemplars,
                      const ExecutionContext& context = ExecutionContext());

    std::size_t clusters() const { return exemplars_.clusters(); }
    std::size_t scratch_size() const { return 2 * training_data_->cols; }

    // distances[k]: the distance from `point` to cluster k's exemplars. `point` holds the
    // model's coordinates (in its units), or under Precomputed the distances to the n
    // training points. `scratch` holds scratch_size() values.
    void measure(const double* point, std::span<double> distances, double* scratch) const;

  private:
    const DataMatrix* training_data_;
    Metric metric_;
    PointsByCluster exemplars_;
    std::vector<TrainingIndex> indexes_;  // one per cluster where the index serves the metric
};

}  // namespace corvane
