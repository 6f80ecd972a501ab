// Times the Euclidean MST stage as the Boruvka routes run it: tree build, core distances
// with neighbour lists, then dual-tree Boruvka, on all available threads.
//
// Usage: boruvka_bench DATA kd|ball|block K ALPHA REPEATS
// ("block" is the wide-data route: the tree of blocks, blocked core distances and blocked
// Boruvka.)
// DATA is raw little-endian: rows and columns as two unsigned 64-bit integers, then the
// row-major 64-bit floats. Prints the times of the three steps of the run with the best
// total over REPEATS runs, the number of edges and their total weight.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "core_distance/blocked_core_distances.hpp"
#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/blocked_boruvka/blocked_boruvka.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "parallel/parallel.hpp"
#include "read_matrix.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using corvane_bench::read_matrix;

struct StageTimes {
    double build = 0.0;
    double core = 0.0;
    double boruvka = 0.0;
    std::size_t edges = 0;
    double total_weight = 0.0;

    double total() const { return build + core + boruvka; }
};

template <class Tree>
StageTimes run_stage(const corvane::DataMatrix& m, std::size_t k, double alpha,
                     std::size_t threads) {
    const corvane::ExecutionContext context(threads);
    StageTimes times;
    auto start = Clock::now();
    const Tree tree = Tree::build(m, context);
    times.build = seconds_since(start);
    start = Clock::now();
    constexpr bool blocked = std::is_same_v<Tree, corvane::BlockTree>;
    corvane::CoreDistanceResult core;
    if constexpr (blocked) {
        core = corvane::blocked_core_distances(tree, k, true, context);
    } else {
        core = corvane::tree_core_distances(m, tree, k, true, context);
    }
    times.core = seconds_since(start);
    start = Clock::now();
    std::vector<corvane::MstEdge> edges;
    if constexpr (blocked) {
        edges = corvane::blocked_boruvka(tree, core.core_distances, core.neighbors, k - 1, alpha,
                                         context);
    } else {
        edges = corvane::dual_tree_boruvka(tree, core.core_distances, core.neighbors, k - 1, alpha,
                                           context);
    }
    times.boruvka = seconds_since(start);
    times.edges = edges.size();
    for (const corvane::MstEdge& e : edges)
        times.total_weight += e.weight;
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s DATA kd|ball|block K ALPHA REPEATS\n", argv[0]);
        return 2;
    }
    const corvane::DataMatrix m = read_matrix(argv[1]);
    const std::string kind = argv[2];
    const std::size_t k = std::strtoull(argv[3], nullptr, 10);
    const double alpha = std::strtod(argv[4], nullptr);
    const int repeats = std::atoi(argv[5]);
    const std::size_t threads = corvane::available_threads();

    StageTimes best;
    for (int r = 0; r < repeats; ++r) {
        const StageTimes times = kind == "ball" ? run_stage<corvane::BallTree>(m, k, alpha, threads)
                                 : kind == "block"
                                     ? run_stage<corvane::BlockTree>(m, k, alpha, threads)
                                     : run_stage<corvane::KdTree>(m, k, alpha, threads);
        if (r == 0 || times.total() < best.total()) best = times;
    }
    std::printf("build %.6f core %.6f boruvka %.6f edges %zu weight %.17g threads %zu\n",
                best.build, best.core, best.boruvka, best.edges, best.total_weight, threads);
    return 0;
}
