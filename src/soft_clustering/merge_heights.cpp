#include "soft_clustering/merge_heights.hpp"

#include <algorithm>
#include <cmath>

#include "common/internal_error.hpp"
#include "outlier/glosh.hpp"

namespace corvane {

MergeHeights::MergeHeights(const CondensedIndex& index, const ClusterSelection& selection)
    : n_(index.n) {
    if (index.empty()) fail_internal("MergeHeights: empty condensed tree");
    const std::size_t count = index.end() - n_;
    const std::span<const std::size_t> parents = index.parent.from(n_);
    const std::span<const double> births = index.lambda.from(n_);
    parent_.assign(parents.begin(), parents.end());
    birth_.assign(births.begin(), births.end());

    deepest_ = glosh_deepest(index);
    for (const double lambda : index.deepest_point)
        deepest_anywhere_ = std::max(deepest_anywhere_, lambda);

    // Preorder positions of the clusters; a cluster's subtree is the run of positions
    // [preorder, subtree_end).
    preorder_.assign(count, 0);
    subtree_end_.assign(count, 0);
    std::vector<std::size_t> stack{index.root()};
    std::vector<std::size_t> by_position;
    by_position.reserve(count);
    while (!stack.empty()) {
        const std::size_t c = stack.back();
        stack.pop_back();
        preorder_[c - n_] = by_position.size();
        by_position.push_back(c);
        const auto children = index.children_of(c);
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            stack.push_back(*child);
        }
    }
    if (by_position.size() != count) fail_internal("MergeHeights: clusters off the root");
    for (std::size_t position = count; position-- > 0;) {
        const std::size_t c = by_position[position];
        std::size_t& end = subtree_end_[c - n_];
        end = std::max(end, position + 1);
        if (c != index.root()) {
            std::size_t& up = subtree_end_[parent_[c - n_] - n_];
            up = std::max(up, end);
        }
    }

    const std::size_t k = selection.clusters.size();
    std::vector<std::size_t> labels(k);
    for (std::size_t label = 0; label < k; ++label) {
        const std::size_t c = selection.clusters[label];
        if (c < n_) fail_internal("MergeHeights: selected id is a point");
        check_index(c, index.end(), "MergeHeights: selected cluster");
        labels[label] = label;
    }
    std::sort(labels.begin(), labels.end(), [&](std::size_t a, std::size_t b) {
        return preorder_[selection.clusters[a] - n_] < preorder_[selection.clusters[b] - n_];
    });
    for (const std::size_t label : labels) {
        const std::size_t c = selection.clusters[label];
        order_position_.push_back(preorder_[c - n_]);
        label_by_order_.push_back(label);
        cluster_by_order_.push_back(c);
    }
    deepest_by_label_.resize(k);
    for (std::size_t label = 0; label < k; ++label) {
        deepest_by_label_[label] = deepest(selection.clusters[label]);
    }
}

void MergeHeights::merge_heights(TreePlace place, std::span<double> heights) const {
    const std::size_t k = clusters();
    if (heights.size() != k) fail_internal("merge_heights: one height per cluster");
    if (k == 0) return;
    const double cap = deepest(place.cluster);
    const double own = std::min(place.lambda, cap);
    const auto first_at_or_after = [&](std::size_t position) {
        return static_cast<std::size_t>(
            std::lower_bound(order_position_.begin(), order_position_.end(), position) -
            order_position_.begin());
    };
    // [low, high): the selected clusters met so far, those below `ancestor`.
    std::size_t ancestor = place.cluster;
    double branch = own;
    std::size_t low = first_at_or_after(preorder_[ancestor - n_]);
    std::size_t high = low;
    for (;;) {
        const std::size_t new_low = first_at_or_after(preorder_[ancestor - n_]);
        const std::size_t new_high = first_at_or_after(subtree_end_[ancestor - n_]);
        const auto meet = [&](std::size_t o) {
            heights[label_by_order_[o]] = cluster_by_order_[o] == ancestor ? own : branch;
        };
        for (std::size_t o = new_low; o < low; ++o)
            meet(o);
        for (std::size_t o = high; o < new_high; ++o)
            meet(o);
        low = new_low;
        high = new_high;
        if (high - low == k) return;
        const std::size_t up = parent_[ancestor - n_];
        if (up == CondensedIndex::NO_PARENT) fail_internal("merge_heights: clusters off the root");
        branch = std::min(birth_[ancestor - n_], cap);
        ancestor = up;
    }
}

}  // namespace corvane
