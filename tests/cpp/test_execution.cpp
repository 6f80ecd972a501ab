// The thread budget, refused threads and interruption across whole fits and predictions:
// every route must give the one-thread result bit for bit, start no thread on a budget
// of one, and stop with Interrupted when asked.
#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "hdbscan/fit_model.hpp"
#include "hierarchy/hierarchy.hpp"
#include "hierarchy_test_support.hpp"
#include "mst/mst_route.hpp"
#include "prediction/prediction.hpp"
#include "thread_starts.hpp"
#include "value_support.hpp"

namespace corvane {
namespace {

using testing::same_bits;
using testing::StopAfter;
using testing::ThreadStarts;

struct Case {
    std::string name;
    Metric metric;
    std::size_t rows;
    std::size_t cols;
    MstRoute route;
};

// Clusters on an integer grid: many exact ties, where a change of thread split would
// show first.
DataMatrix grid_data(std::size_t rows, std::size_t cols, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> cell(0, 40);
    DataMatrix m(rows, cols);
    for (std::size_t i = 0; i < rows; ++i) {
        const double centre = static_cast<double>(i % 4) * 30.0;
        for (std::size_t j = 0; j < cols; ++j)
            m.at(i, j) = centre + static_cast<double>(cell(rng)) * 0.25;
    }
    return m;
}

DataMatrix input_of(const Case& c) {
    DataMatrix data = grid_data(c.rows, c.cols, 5);
    if (c.metric.kind != MetricKind::Precomputed) return data;
    DataMatrix distances(c.rows, c.rows);
    for (std::size_t i = 0; i < c.rows; ++i) {
        for (std::size_t j = 0; j < c.rows; ++j) {
            double sum = 0.0;
            for (std::size_t d = 0; d < c.cols; ++d)
                sum += std::abs(data.at(i, d) - data.at(j, d));
            distances.at(i, j) = sum;
        }
    }
    return distances;
}

std::vector<Case> cases() {
    return {
        {"kd-tree boruvka", Metric::euclidean(), 3000, 2, MstRoute::BoruvkaKdTree},
        {"blocked boruvka", Metric::euclidean(), 9000, 18, MstRoute::BlockedBoruvka},
        {"blocked boruvka, few rows", Metric::euclidean(), 1500, 20, MstRoute::BlockedBoruvka},
        {"dense manhattan", Metric::manhattan(), 900, 3, MstRoute::PrimDense},
        {"manhattan trees", Metric::manhattan(), 2500, 3, MstRoute::MetricTrees},
        {"cosine trees", Metric::cosine(), 2500, 20, MstRoute::MetricTrees},
        {"precomputed", Metric::precomputed(), 1200, 2, MstRoute::PrimDense},
    };
}

HdbscanParams params_of(const Case& c) {
    HdbscanParams params;
    params.metric = c.metric;
    params.min_cluster_size = 10;
    return params;
}

void expect_same(const FittedModel& a, const FittedModel& b, const std::string& what) {
    EXPECT_EQ(a.labels, b.labels) << what;
    EXPECT_TRUE(same_bits(a.probabilities, b.probabilities)) << what;
    EXPECT_TRUE(same_bits(a.outlier_scores, b.outlier_scores)) << what;
    EXPECT_TRUE(same_bits(a.cluster_persistence, b.cluster_persistence)) << what;
}

TEST(ExecutionBudget, OneThreadStartsNoneAndRefusedThreadsChangeNothing) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const DataMatrix data = input_of(c);
        ASSERT_EQ(choose_mst_route(c.metric, data.rows, data.cols, 1.0), c.route);
        ThreadStarts none_needed;
        const ExecutionContext one(1, {}, none_needed.starter());
        const FittedModel reference = fit_model(params_of(c), data, one).value();
        EXPECT_EQ(none_needed.started(), 0u);

        // Four threads on any machine, and the same with the system refusing the second,
        // and every, thread the fit asks for.
        for (const std::size_t allowed : {std::size_t{1000000}, std::size_t{1}, std::size_t{0}}) {
            ThreadStarts starts(allowed);
            const ExecutionContext four(4, {}, starts.starter());
            expect_same(reference, fit_model(params_of(c), data, four).value(),
                        std::to_string(allowed) + " threads allowed");
            EXPECT_GT(starts.started() + starts.refused(), 0u);
        }
    }
}

TEST(ExecutionBudget, PredictionOnOneThreadStartsNone) {
    const Case c = cases().front();
    FittedModel model = fit_model(params_of(c), input_of(c), ExecutionContext(2)).value();
    const DataMatrix points = grid_data(5000, 2, 9);
    ThreadStarts starts;
    const Prediction one =
        approximate_predict(model, points, ExecutionContext(1, {}, starts.starter())).value();
    EXPECT_EQ(starts.started(), 0u);
    ThreadStarts refused(0);
    const Prediction four =
        approximate_predict(model, points, ExecutionContext(4, {}, refused.starter())).value();
    EXPECT_EQ(one.labels, four.labels);
    EXPECT_TRUE(same_bits(one.probabilities, four.probabilities));
}

// Wherever the poll first says stop, the fit ends with Interrupted, and the poll runs on
// the calling thread only. How many polls a fit makes depends on timing (pieces of rows
// are sized by time, and a waiting thread polls on a clock), so the stops are taken well
// inside the count of a first run.
TEST(ExecutionInterruption, FitsStopAtAnyCheckpoint) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const DataMatrix data = input_of(c);
        for (const std::size_t threads : {1, 3}) {
            StopAfter count_only(std::size_t(-1));
            const ExecutionContext counting(threads, count_only.poll());
            fit_model(params_of(c), data, counting).value();
            const std::size_t polls = count_only.seen();
            ASSERT_GT(polls, 3u);
            for (const std::size_t stop_at : {std::size_t{1}, polls / 4, polls / 2}) {
                StopAfter stop(stop_at);
                const ExecutionContext context(threads, stop.poll());
                EXPECT_THROW(fit_model(params_of(c), data, context), Interrupted)
                    << threads << " threads, stop at poll " << stop_at << " of " << polls;
                EXPECT_FALSE(stop.called_from_another_thread());
            }
        }
    }
}

// The hierarchy's steps run on the calling thread over every point; each checks as it
// goes, not only between steps, so that a stop is seen within a stretch of
// SHORT_STEPS_PER_CHECK steps however many points there are: the number of checks grows
// with n (about one per stretch in each of the ten or so passes), and a stop at any of
// them ends the call with Interrupted. The steps are sequential, so the count is exact.
TEST(ExecutionInterruption, HierarchyStepsCheckAsTheyGo) {
    constexpr std::size_t stretch = ExecutionContext::SHORT_STEPS_PER_CHECK;
    const std::size_t n = 8 * stretch;
    std::mt19937_64 rng(29);
    const std::vector<MstEdge> edges = testing::random_spanning_tree(rng, n, 64);
    const auto run = [&](const ExecutionContext& context) {
        const Hierarchy hierarchy = link_hierarchy(edges, n, context);
        return select_hierarchy(hierarchy, 5, SelectionParams{}, context);
    };
    StopAfter count_only(std::size_t(-1));
    run(ExecutionContext(1, count_only.poll()));
    const std::size_t polls = count_only.seen();
    EXPECT_GE(polls, 8 * (n / stretch));
    for (std::size_t stop_at = 1; stop_at <= polls; stop_at += polls / 24 + 1) {
        StopAfter stop(stop_at);
        EXPECT_THROW(run(ExecutionContext(1, stop.poll())), Interrupted)
            << stop_at << " of " << polls;
    }
    StopAfter last(polls);
    EXPECT_THROW(run(ExecutionContext(1, last.poll())), Interrupted);
}

}  // namespace
}  // namespace corvane
