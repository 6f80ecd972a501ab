#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "common/internal_error.hpp"
#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "labels/assign_labels.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Per point, where its lambda lies between the birth of its cluster (0) and
// the deepest finite point lambda inside that cluster (1), clamped to [0, 1].
// Noise gets 0; a cluster without such a span (all points leave at its birth,
// or at +infinity) gives its points 1. Never NaN.
std::vector<double> membership_probabilities(const CondensedTree& tree,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels, std::size_t n);

// What the probabilities depend on besides each point's label and edge, by cluster, taken
// from an index (not empty; its points are not read) so that the probabilities can be
// written after it is gone.
class PointProbabilities {
  public:
    PointProbabilities(const CondensedIndex& index, const ClusterSelection& selection,
                       const ExecutionContext& context = ExecutionContext());

    // The probability of a point with `label` that leaves cluster `parent` at `lambda`.
    double operator()(std::int32_t label, std::size_t parent, double lambda) const {
        if (label < 0) return 0.0;
        const auto k = static_cast<std::size_t>(label);
        check_index(k, spans_.size(), "membership_probabilities: label");
        const Span span = spans_[k];
        if (owner_[parent - n_] == NO_OWNER) lambda = -std::numeric_limits<double>::infinity();
        if (std::isfinite(span.length) && span.length > 0.0) {
            return std::min(1.0, std::max(0.0, (lambda - span.birth) / span.length));
        }
        return 1.0;
    }

  private:
    // Per selected cluster, in label order: its birth lambda and the span from there to
    // the deepest finite point lambda inside it.
    struct Span {
        double birth = 0.0;
        double length = 0.0;
    };

    static constexpr std::size_t NO_OWNER = CondensedIndex::NO_PARENT;

    std::size_t n_ = 0;
    std::vector<std::size_t> owner_;  // per cluster: the selected cluster at or above it
    std::vector<Span> spans_;
};

// The same from the tree's index (not empty, with its points).
// `context` is checked for interruption as the passes go.
std::vector<double> membership_probabilities(const CondensedIndex& index,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels,
                                             const ExecutionContext& context = ExecutionContext());

// The same from the edges of the tree that `probabilities` and `labels` were taken from:
// each point's label comes from its edge too, not from a scattered read of the labels.
std::vector<double> membership_probabilities(const PackedCondensedTree& tree,
                                             const PointProbabilities& probabilities,
                                             const PointLabels& labels,
                                             const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
