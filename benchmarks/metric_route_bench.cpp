// Where the trees start paying under the metrics other than Euclidean: times the dense
// Prim route and the tree route (core distances and spanning tree) on the same clustered
// data, one after the other, and prints their ratio per row count. The route table's
// metric_tree_threshold comes from these ratios.
//
// Usage: metric_route_bench COLUMNS ROWS... (for example: metric_route_bench 3 250 500 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mst/metric_trees.hpp"
#include "mst/prim/prim.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Gaussian blobs of four widths around eight centres.
corvane::DataMatrix clustered(std::size_t n, std::size_t d, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> centre(-20.0, 20.0);
    std::vector<double> centres(8 * d);
    for (double& c : centres)
        c = centre(rng);
    corvane::DataMatrix m(n, d);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t c = i % 8;
        const double width = 0.5 + static_cast<double>(c % 4);
        for (std::size_t j = 0; j < d; ++j)
            m.at(i, j) = centres[c * d + j] + width * normal(rng);
    }
    return m;
}

template <class Run>
double best_of_three(const Run& run) {
    double best = std::numeric_limits<double>::infinity();
    for (int r = 0; r < 3; ++r) {
        const Clock::time_point start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s COLUMNS ROWS...\n", argv[0]);
        return 2;
    }
    const std::size_t d = std::strtoull(argv[1], nullptr, 10);
    const std::pair<const char*, corvane::Metric> metrics[] = {
        {"manhattan", corvane::Metric::manhattan()},
        {"minkowski3", corvane::Metric::minkowski(3.0)},
        {"chebyshev", corvane::Metric::minkowski(std::numeric_limits<double>::infinity())},
        {"cosine", corvane::Metric::cosine()},
    };
    std::printf("%-11s %8s %10s\n", "metric", "rows", "tree/dense");
    for (int a = 2; a < argc; ++a) {
        const std::size_t n = std::strtoull(argv[a], nullptr, 10);
        const corvane::DataMatrix m = clustered(n, d, static_cast<unsigned>(n));
        for (const auto& [name, metric] : metrics) {
            const double dense = best_of_three([&] { corvane::prim_dense_mst(m, metric, 5, 1.0); });
            const double tree =
                best_of_three([&] { (void)corvane::metric_tree_mst(m, metric, 1.0, 5); });
            std::printf("%-11s %8zu %10.3f\n", name, n, tree / dense);
        }
    }
    return 0;
}
