// Times approximate prediction of new 2-D points against a large Euclidean model: the
// accelerated route (spatial index, rows split over threads) against the exhaustive scan
// that measures every training point, on the same model and the same new points.
//
// Usage: predict_bench [TRAINING_POINTS [NEW_POINTS [EXHAUSTIVE_SAMPLE]]]
// (defaults 1000000, 100000, 200). The exhaustive scan runs on one thread for the first
// EXHAUSTIVE_SAMPLE new points only and is extrapolated to all of them; its results are
// compared with the accelerated route's on those points. Also prints how many new points
// the exhaustive scan handles in the time one index build takes, the figure that
// LazyTrainingIndex::index_threshold estimates.
//
// The model: Gaussian blobs plus uniform background noise, core distances from a KD-tree
// search with k = 5, a synthetic label per blob (-1 for the background) and synthetic
// membership probabilities. New points are drawn from the same mixture.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "parallel/parallel.hpp"
#include "prediction/prediction.hpp"

namespace {

constexpr std::size_t BLOBS = 20;

struct Mixture {
    std::mt19937_64 rng;
    std::vector<double> centres;

    explicit Mixture(unsigned seed) : rng(seed), centres(2 * BLOBS) {
        std::uniform_real_distribution<double> place(-100.0, 100.0);
        for (double& c : centres)
            c = place(rng);
    }

    // Fills `row` and returns the blob drawn from, or -1 for background noise.
    int draw(double* row) {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        if (unit(rng) < 0.1) {
            std::uniform_real_distribution<double> background(-120.0, 120.0);
            row[0] = background(rng);
            row[1] = background(rng);
            return -1;
        }
        const auto blob = static_cast<std::size_t>(unit(rng) * BLOBS) % BLOBS;
        std::normal_distribution<double> spread(0.0, 1.0 + static_cast<double>(blob % 4));
        row[0] = centres[2 * blob] + spread(rng);
        row[1] = centres[2 * blob + 1] + spread(rng);
        return static_cast<int>(blob);
    }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::size_t m = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100000;
    const std::size_t sample = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 200;
    const std::size_t threads = corvane::available_threads();

    Mixture mixture(12345);
    corvane::FittedModel model;
    model.metric = corvane::Metric::euclidean();
    model.training_data = corvane::DataMatrix(n, 2);
    model.labels.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        model.labels[i] = mixture.draw(model.training_data.row(i));
    {
        const corvane::KdTree tree = corvane::KdTree::build(model.training_data);
        model.core_distances =
            corvane::tree_core_distances(model.training_data, tree, 5, false).core_distances;
    }
    model.probabilities.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        model.probabilities[i] =
            model.labels[i] < 0 ? 0.0 : 1.0 / (1.0 + 4.0 * model.core_distances[i]);
    }

    corvane::DataMatrix new_points(m, 2);
    for (std::size_t i = 0; i < m; ++i)
        mixture.draw(new_points.row(i));
    corvane::DataMatrix subset(std::min(sample, m), 2);
    std::copy_n(new_points.values.begin(), subset.values.size(), subset.values.begin());

    auto start = std::chrono::steady_clock::now();
    const corvane::TrainingIndex index =
        corvane::TrainingIndex::build(model.training_data, model.core_distances);
    const double build = seconds_since(start);

    start = std::chrono::steady_clock::now();
    const auto one_thread =
        corvane::approximate_predict(model, index, new_points, corvane::ExecutionContext(1));
    const double search_one = seconds_since(start);

    start = std::chrono::steady_clock::now();
    const auto all_threads =
        corvane::approximate_predict(model, new_points, corvane::ExecutionContext(threads));
    const double per_call = seconds_since(start);

    start = std::chrono::steady_clock::now();
    const auto exhaustive =
        corvane::approximate_predict_exhaustive(model, subset, corvane::ExecutionContext(1));
    const double exhaustive_sample = seconds_since(start);
    const double exhaustive_all =
        exhaustive_sample * static_cast<double>(m) / static_cast<double>(subset.rows);

    bool same = one_thread && all_threads && exhaustive &&
                one_thread->labels == all_threads->labels &&
                one_thread->probabilities == all_threads->probabilities;
    for (std::size_t i = 0; same && i < subset.rows; ++i) {
        same = exhaustive->labels[i] == one_thread->labels[i] &&
               exhaustive->probabilities[i] == one_thread->probabilities[i];
    }

    std::printf("model %zu x 2, new points %zu, threads %zu\n", n, m, threads);
    std::printf("index build                      %10.4f s\n", build);
    std::printf("index search, 1 thread           %10.4f s\n", search_one);
    std::printf("build + search, %zu threads        %10.4f s\n", threads, per_call);
    std::printf("exhaustive, 1 thread (%zu pts)    %10.4f s -> %.1f s for all\n", subset.rows,
                exhaustive_sample, exhaustive_all);
    std::printf("ratio search / exhaustive, 1 thread each:           %.3g\n",
                search_one / exhaustive_all);
    std::printf("ratio build + search (%zu threads) / exhaustive (1): %.3g\n", threads,
                per_call / exhaustive_all);
    std::printf(
        "index build costs as much as the exhaustive scan of %.0f new points "
        "(LazyTrainingIndex::index_threshold: %zu)\n",
        build / (exhaustive_sample / static_cast<double>(subset.rows)),
        corvane::LazyTrainingIndex::index_threshold(n));
    std::printf("results identical on the sample: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
