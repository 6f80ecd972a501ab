#pragma once

#include <span>

#include "soft_clustering/merge_heights.hpp"

namespace corvane {

// Scales `values` (non-negative; NaN reads as +infinity) into shares of 1 in proportion
// to 1 / value: the entries at 0, if any, share it equally and the others get 0; all at
// +infinity share it equally. Sums run in index order.
void reciprocal_shares(std::span<double> values);

// The membership vector of one point at `place` (soft_clustering.hpp gives the
// definition). `vector` holds the distances to the clusters' exemplars on entry and the
// vector on return; `merge_scratch` and `outlier_scratch` are scratch space for heights.clusters()
// values each.
void membership_row(const MergeHeights& heights, TreePlace place, std::span<double> vector,
                    std::span<double> merge_scratch, std::span<double> outlier_scratch);

}  // namespace corvane
