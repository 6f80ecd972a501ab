#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Label k for the points of selection.clusters[k], -1 for noise. A point
// belongs to the nearest selected cluster above it. Points that reach only the
// root are noise, except when the root is the whole selection and
// allow_single_cluster is true: then the points whose lambda reaches a
// threshold get label 0. The threshold is 1 / cluster_selection_epsilon for any
// epsilon other than 0, otherwise the largest lambda directly under the root.
// An empty tree or selection gives all -1.
std::vector<std::int32_t> assign_labels(const CondensedTree& tree,
                                        const ClusterSelection& selection, std::size_t n,
                                        double cluster_selection_epsilon,
                                        bool allow_single_cluster);

// What the labels depend on besides each point's own edge, by cluster, taken from an
// index (not empty; its points are not read) so that the labels can be written after it
// is gone.
class PointLabels {
  public:
    PointLabels(const CondensedIndex& index, const ClusterSelection& selection,
                double cluster_selection_epsilon, bool allow_single_cluster,
                const ExecutionContext& context = ExecutionContext());

    // The label of a point that leaves cluster `parent` at `lambda`.
    std::int32_t operator()(std::size_t parent, double lambda) const {
        const std::size_t top = top_[parent - n_];
        if (top != root_) return label_of_[top - n_];
        return single_root_ && threshold_ <= lambda ? label_of_[root_ - n_] : -1;
    }

  private:
    std::size_t n_ = 0;
    std::size_t root_ = 0;
    // Per cluster (by id - n): its label, -1 when it is not selected; the selected
    // cluster at or above it, or the root when there is none.
    std::vector<std::int32_t> label_of_;
    std::vector<std::size_t> top_;
    bool single_root_ = false;
    double threshold_ = 0.0;
};

// The same from the tree's index (not empty, with its points), checking `context` for interruption.
std::vector<std::int32_t> assign_labels(const CondensedIndex& index,
                                        const ClusterSelection& selection,
                                        double cluster_selection_epsilon, bool allow_single_cluster,
                                        const ExecutionContext& context = ExecutionContext());

// The same from the edges of the tree that `labels` was taken from.
std::vector<std::int32_t> assign_labels(const PackedCondensedTree& tree, const PointLabels& labels,
                                        const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
