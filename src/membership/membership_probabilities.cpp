#include "membership/membership_probabilities.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/internal_error.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/parallel.hpp"

namespace corvane {
namespace {

void check_label_count(std::span<const std::int32_t> labels, std::size_t n) {
    if (labels.size() != n) fail_internal("membership_probabilities: one label per point");
}

}  // namespace

std::vector<double> membership_probabilities(const CondensedTree& tree,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels, std::size_t n) {
    const CondensedIndex index = index_condensed_tree(PackedCondensedTree(tree, n));
    if (index.empty()) {
        check_label_count(labels, n);
        return std::vector<double>(n, 0.0);
    }
    return membership_probabilities(index, selection, labels);
}

PointProbabilities::PointProbabilities(const CondensedIndex& index,
                                       const ClusterSelection& selection,
                                       const ExecutionContext& context)
    : n_(index.n) {
    const std::size_t n = n_;
    owner_.assign(index.end() - n, NO_OWNER);
    for_each_checked(context, 0, selection.clusters.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        if (c < n) fail_internal("membership_probabilities: selected id is a point");
        check_index(c, index.end(), "membership_probabilities: selected cluster");
        owner_[c - n] = c;
    });
    // Parents have smaller ids, so one ascending pass settles every cluster.
    for_each_checked(context, index.root() + 1, index.end(), [&](std::size_t c) {
        if (owner_[c - n] == NO_OWNER) owner_[c - n] = owner_[index.parent[c] - n];
    });

    std::vector<double> deepest(index.end() - n, 0.0);
    for_each_checked(context, index.root(), index.end(), [&](std::size_t c) {
        const std::size_t o = owner_[c - n];
        if (o != NO_OWNER) deepest[o - n] = std::max(deepest[o - n], index.deepest_point[c - n]);
    });
    spans_.resize(selection.clusters.size());
    for_each_checked(context, 0, spans_.size(), [&](std::size_t k) {
        const std::size_t c = selection.clusters[k];
        double birth = index.lambda[c];
        if (std::isinf(birth)) birth = 0.0;
        spans_[k] = {birth, deepest[c - n] - birth};
    });
}

std::vector<double> membership_probabilities(const CondensedIndex& index,
                                             const ClusterSelection& selection,
                                             std::span<const std::int32_t> labels,
                                             const ExecutionContext& context) {
    check_label_count(labels, index.n);
    std::vector<double> probabilities(index.n, 0.0);
    if (selection.clusters.empty()) return probabilities;
    const PointProbabilities probability(index, selection, context);
    for_each_index(context, index.n, [&](std::size_t p) {
        probabilities[p] = probability(labels[p], index.parent[p], index.lambda[p]);
    });
    return probabilities;
}

std::vector<double> membership_probabilities(const PackedCondensedTree& tree,
                                             const PointProbabilities& probability,
                                             const PointLabels& label,
                                             const ExecutionContext& context) {
    std::vector<double> probabilities(tree.points(), 0.0);
    for_each_point_edge(tree, context, [&](std::size_t point, std::size_t parent, double lambda) {
        probabilities[point] = probability(label(parent, lambda), parent, lambda);
    });
    return probabilities;
}

}  // namespace corvane
