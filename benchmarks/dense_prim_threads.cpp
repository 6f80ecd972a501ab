// Times the dense Prim route (non-Euclidean metrics and precomputed matrices)
// on one thread and on more: core distances and the tree separately, best of
// REPEATS runs each, the runs alternating between the thread counts so that
// load from other processes hits both alike. Prints the seconds and the ratio
// many threads / one thread per stage, and checks that every thread count
// gives the same bits.
//
// Usage: dense_prim_threads [--repeats R] [--threads T] [--k K] [CASE ...]
// CASE is METRIC:N with METRIC manhattan, cosine, minkowski3 or precomputed
// (an N x N Euclidean distance matrix of 2-column points); the other metrics
// run on N points in 3 columns. Gaussian blobs with 5% uniform noise; K
// neighbours, 5 by default.
// Default cases: each metric at 5000 and 20000 points, precomputed at 5000.
// T defaults to available_threads().
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/stage_clock.hpp"
#include "mst/prim/prim.hpp"
#include "parallel/parallel.hpp"

namespace {

corvane::DataMatrix blobs(std::size_t n, std::size_t d, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> centre(-50.0, 50.0);
    std::uniform_real_distribution<double> scale(0.5, 4.0);
    std::uniform_real_distribution<double> noise(-60.0, 60.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    constexpr std::size_t CENTRES = 12;
    std::vector<double> centres(CENTRES * d);
    std::vector<double> scales(CENTRES);
    for (double& c : centres)
        c = centre(rng);
    for (double& s : scales)
        s = scale(rng);
    std::uniform_int_distribution<std::size_t> pick(0, CENTRES - 1);
    corvane::DataMatrix m(n, d);
    for (std::size_t i = 0; i < n; ++i) {
        const bool is_noise = i % 20 == 0;
        const std::size_t c = pick(rng);
        for (std::size_t j = 0; j < d; ++j)
            m.at(i, j) = is_noise ? noise(rng) : centres[c * d + j] + normal(rng) * scales[c];
    }
    return m;
}

corvane::DataMatrix distance_matrix(const corvane::DataMatrix& points) {
    const std::size_t n = points.rows;
    corvane::DataMatrix m(n, n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (std::size_t c = 0; c < points.cols; ++c) {
                const double diff = points.at(i, c) - points.at(j, c);
                sum += diff * diff;
            }
            m.at(i, j) = std::sqrt(sum);
        }
    }
    return m;
}

struct Case {
    std::string name;
    corvane::Metric metric;
    std::size_t n = 0;
};

bool parse_case(const std::string& text, Case& out) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    out.name = text.substr(0, colon);
    out.n = std::stoul(text.substr(colon + 1));
    if (out.name == "manhattan") {
        out.metric = corvane::Metric::manhattan();
    } else if (out.name == "cosine") {
        out.metric = corvane::Metric::cosine();
    } else if (out.name == "minkowski3") {
        out.metric = corvane::Metric::minkowski(3.0);
    } else if (out.name == "precomputed") {
        out.metric = corvane::Metric::precomputed();
    } else {
        return false;
    }
    return true;
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_result(const corvane::MstResult& a, const corvane::MstResult& b) {
    if (a.edges.size() != b.edges.size() || a.core_distances.size() != b.core_distances.size())
        return false;
    for (std::size_t i = 0; i < a.core_distances.size(); ++i)
        if (!same_bits(a.core_distances[i], b.core_distances[i])) return false;
    for (std::size_t i = 0; i < a.edges.size(); ++i) {
        const corvane::MstEdge& x = a.edges[i];
        const corvane::MstEdge& y = b.edges[i];
        if (x.a != y.a || x.b != y.b || !same_bits(x.weight, y.weight)) return false;
    }
    return true;
}

struct Timing {
    double core = INFINITY;
    double tree = INFINITY;
};

}  // namespace

int main(int argc, char** argv) {
    std::size_t repeats = 3;
    std::size_t k = 5;
    std::size_t threads = corvane::available_threads();
    std::vector<Case> cases;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--repeats" && a + 1 < argc) {
            repeats = std::stoul(argv[++a]);
        } else if (arg == "--threads" && a + 1 < argc) {
            threads = std::stoul(argv[++a]);
        } else if (arg == "--k" && a + 1 < argc) {
            k = std::stoul(argv[++a]);
        } else {
            Case c;
            if (!parse_case(arg, c)) {
                std::fprintf(stderr, "bad case %s (METRIC:N)\n", arg.c_str());
                return 2;
            }
            cases.push_back(c);
        }
    }
    if (cases.empty()) {
        for (const char* text : {"manhattan:5000", "manhattan:20000", "cosine:5000", "cosine:20000",
                                 "minkowski3:5000", "minkowski3:20000", "precomputed:5000"}) {
            Case c;
            parse_case(text, c);
            cases.push_back(c);
        }
    }

    std::printf("available_threads %zu, timing 1 and %zu threads, best of %zu, k %zu\n",
                corvane::available_threads(), threads, repeats, k);
    std::printf("%-12s %6s | %8s %8s | %8s %8s | %6s %6s %6s\n", "metric", "n", "core 1", "tree 1",
                "core T", "tree T", "core", "tree", "total");
    std::fflush(stdout);
    bool identical = true;
    for (const Case& c : cases) {
        const corvane::DataMatrix data = c.metric.kind == corvane::MetricKind::Precomputed
                                             ? distance_matrix(blobs(c.n, 2, c.n))
                                             : blobs(c.n, 3, c.n);
        const std::vector<std::size_t> counts{1, threads};
        std::vector<Timing> best(counts.size());
        std::vector<corvane::MstResult> results(counts.size());
        for (std::size_t r = 0; r < repeats; ++r) {
            for (std::size_t t = 0; t < counts.size(); ++t) {
                corvane::StageTimes times;
                corvane::StageClock clock(&times);
                results[t] = corvane::prim_dense_mst(data, c.metric, k, 1.0,
                                                     corvane::ExecutionContext(counts[t]), &clock);
                clock.lap(&corvane::StageTimes::spanning_tree);
                best[t].core = std::min(best[t].core, times.core_distances);
                best[t].tree = std::min(best[t].tree, times.spanning_tree);
            }
        }
        identical = identical && same_result(results[0], results[1]);
        std::printf("%-12s %6zu | %8.3f %8.3f | %8.3f %8.3f | %6.3f %6.3f %6.3f\n", c.name.c_str(),
                    c.n, best[0].core, best[0].tree, best[1].core, best[1].tree,
                    best[1].core / best[0].core, best[1].tree / best[0].tree,
                    (best[1].core + best[1].tree) / (best[0].core + best[0].tree));
        std::fflush(stdout);
    }
    std::printf("results identical across thread counts: %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
