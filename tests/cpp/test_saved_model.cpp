// Restoring a model from its saved parts: the steps of a fit give the fitted model back
// bit for bit, and a stop asked for at any check ends the restore with Interrupted.
#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <vector>

#include "hdbscan/fit_model.hpp"
#include "model/saved_model.hpp"
#include "thread_starts.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::same_bits;
using testing::StopAfter;

SavedModel saved_parts(const FittedModel& model) {
    SavedModel saved;
    saved.metric = model.metric;
    saved.magnitude_shift = model.magnitude_shift;
    saved.min_samples = model.min_samples;
    saved.alpha = model.alpha;
    saved.training_data = model.training_data;
    saved.core_distances = model.core_distances;
    for (std::size_t i = 0; i < model.hierarchy.spanning_tree.size(); ++i)
        saved.spanning_tree.push_back(model.hierarchy.spanning_tree.edge(i));
    saved.min_cluster_size = model.hierarchy.min_cluster_size;
    saved.selection = model.hierarchy.selected_with;
    return saved;
}

FittedModel fitted(double scale) {
    std::mt19937_64 rng(17);
    std::normal_distribution<double> noise(0.0, 1.0);
    DataMatrix data(3000, 2);
    for (std::size_t i = 0; i < data.rows; ++i) {
        for (std::size_t j = 0; j < data.cols; ++j)
            data.at(i, j) = (static_cast<double>(i % 3) * 8.0 + noise(rng)) * scale;
    }
    HdbscanParams params;
    params.min_cluster_size = 12;
    params.cluster_selection_epsilon = 0.5 * scale;
    params.max_cluster_size = 900;
    return fit_model(params, data, ExecutionContext(1)).value();
}

TEST(SavedModel, RestoresTheFittedModelBitForBit) {
    for (const double scale : {1.0, 1e-300}) {  // the second shifts the data
        const FittedModel model = fitted(scale);
        const FittedModel restored = restore_model(saved_parts(model)).value();
        EXPECT_EQ(restored.magnitude_shift, model.magnitude_shift);
        EXPECT_EQ(restored.labels, model.labels);
        EXPECT_TRUE(same_bits(restored.probabilities, model.probabilities));
        EXPECT_TRUE(same_bits(restored.outlier_scores, model.outlier_scores));
        EXPECT_TRUE(same_bits(restored.cluster_persistence, model.cluster_persistence));
        EXPECT_EQ(restored.hierarchy.selection.clusters, model.hierarchy.selection.clusters);
    }
}

TEST(SavedModel, StopsAtAnyCheck) {
    const SavedModel saved = saved_parts(fitted(1.0));
    StopAfter count_only(std::size_t(-1));
    ASSERT_TRUE(restore_model(saved, ExecutionContext(1, count_only.poll())));
    const std::size_t polls = count_only.seen();
    ASSERT_GT(polls, 3u);
    for (std::size_t stop_at = 1; stop_at <= polls; ++stop_at) {
        StopAfter stop(stop_at);
        EXPECT_THROW(restore_model(saved, ExecutionContext(1, stop.poll())), Interrupted);
    }
}

}  // namespace
}  // namespace corvane
