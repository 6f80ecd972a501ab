#include "soft_clustering/membership_row.hpp"

#include <algorithm>
#include <limits>

#include "common/internal_error.hpp"

namespace corvane {

void reciprocal_shares(std::span<double> values) {
    const std::size_t k = values.size();
    if (k == 0) return;
    const std::size_t zeros =
        static_cast<std::size_t>(std::count(values.begin(), values.end(), 0.0));
    if (zeros > 0) {
        const double share = 1.0 / static_cast<double>(zeros);
        for (double& value : values)
            value = value == 0.0 ? share : 0.0;
        return;
    }
    double sum = 0.0;
    for (double& value : values) {
        value = value < std::numeric_limits<double>::infinity() ? 1.0 / value : 0.0;
        sum += value;
    }
    if (sum == 0.0) {
        std::fill(values.begin(), values.end(), 1.0 / static_cast<double>(k));
        return;
    }
    for (double& value : values)
        value /= sum;
}

void membership_row(const MergeHeights& heights, TreePlace place, std::span<double> vector,
                    std::span<double> merge_scratch, std::span<double> outlier_scratch) {
    const std::size_t k = heights.clusters();
    if (vector.size() != k || merge_scratch.size() != k || outlier_scratch.size() != k) {
        fail_internal("membership_row: one value per cluster");
    }
    if (k == 0) return;
    heights.merge_heights(place, merge_scratch);

    // m / (m - h) in proportion, so 1 / (m - h): the common factor m drops out.
    const double m = heights.deepest(place.cluster);
    std::size_t best = 0;
    for (std::size_t c = 0; c < k; ++c) {
        outlier_scratch[c] = std::max(m - merge_scratch[c], 0.0);
        if (merge_scratch[c] > merge_scratch[best]) best = c;
    }
    reciprocal_shares(vector);
    reciprocal_shares(outlier_scratch);

    double sum = 0.0;
    for (std::size_t c = 0; c < k; ++c)
        sum += vector[c] * outlier_scratch[c];
    const double deepest = heights.deepest_of_label(best);
    const double in_some_cluster =
        deepest > 0.0 ? std::min(merge_scratch[best] / deepest, 1.0) : 1.0;
    if (sum > 0.0) {
        for (std::size_t c = 0; c < k; ++c)
            vector[c] = vector[c] * outlier_scratch[c] / sum * in_some_cluster;
    } else {
        for (double& value : vector)
            value *= in_some_cluster;
    }
}

}  // namespace corvane
