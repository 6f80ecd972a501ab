// Times building a tree and the all-points k-nearest-neighbour query over it (every row
// queried against the rows themselves, neighbour lists kept), on all available threads.
//
// Usage: knn_bench DATA kd|ball K REPEATS [CORE_OUT [THREADS]]
// DATA is raw little-endian: rows and columns as two unsigned 64-bit integers, then the
// row-major 64-bit floats. Prints the best time over REPEATS runs; CORE_OUT, if given,
// receives the core distances of the last run as raw 64-bit floats ("-": none); THREADS
// overrides the number of available processors.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ball_tree/ball_tree.hpp"
#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "parallel/parallel.hpp"
#include "read_matrix.hpp"

namespace {

using corvane_bench::read_matrix;

template <class Tree>
corvane::CoreDistanceResult build_and_query(const corvane::DataMatrix& m, std::size_t k,
                                            std::size_t threads, double& build_seconds) {
    const auto start = std::chrono::steady_clock::now();
    const corvane::ExecutionContext context(threads);
    const Tree tree = Tree::build(m, context);
    build_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return corvane::tree_core_distances(m, tree, k, true, context);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DATA kd|ball K REPEATS [CORE_OUT]\n", argv[0]);
        return 2;
    }
    const corvane::DataMatrix m = read_matrix(argv[1]);
    const std::string kind = argv[2];
    const std::size_t k = std::strtoull(argv[3], nullptr, 10);
    const int repeats = std::atoi(argv[4]);
    const std::size_t threads =
        argc > 6 ? std::strtoull(argv[6], nullptr, 10) : corvane::available_threads();

    double best = 1e300;
    double best_build = 0.0;
    corvane::CoreDistanceResult result;
    for (int r = 0; r < repeats; ++r) {
        double build = 0.0;
        const auto start = std::chrono::steady_clock::now();
        result = kind == "ball" ? build_and_query<corvane::BallTree>(m, k, threads, build)
                                : build_and_query<corvane::KdTree>(m, k, threads, build);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds < best) {
            best = seconds;
            best_build = build;
        }
    }
    std::printf("seconds %.6f build %.6f threads %zu\n", best, best_build, threads);
    if (argc > 5 && std::string(argv[5]) != "-") {
        std::ofstream out(argv[5], std::ios::binary);
        out.write(reinterpret_cast<const char*>(result.core_distances.data()),
                  static_cast<std::streamsize>(result.core_distances.size() * sizeof(double)));
    }
    return 0;
}
