// Times the Gram matrix kernel G = X * X^T on random data and prints one line
// per shape: "n d threads seconds gflops", with GFLOP/s counted as 2 n^2 d
// (the full product, as for any general matrix multiply). Run through
// gram_vs_numpy.py for the comparison with NumPy.
//
// Usage: gram_kernel THREADS N:D [N:D ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "mst/prim/gram_matrix.hpp"

namespace {

double seconds_of_best(const corvane::DataMatrix& x, std::size_t threads, int repeats) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const corvane::GramMatrix g = corvane::gram_matrix(x, corvane::ExecutionContext(threads));
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (g.at(0, 0) < 0.0) std::puts("impossible");  // keeps the product observable
        if (elapsed.count() < best) best = elapsed.count();
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s THREADS N:D [N:D ...]\n", argv[0]);
        return 2;
    }
    const std::size_t threads = std::stoul(argv[1]);
    std::mt19937_64 rng(1);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int a = 2; a < argc; ++a) {
        const std::string shape = argv[a];
        const std::size_t colon = shape.find(':');
        const std::size_t n = std::stoul(shape.substr(0, colon));
        const std::size_t d = std::stoul(shape.substr(colon + 1));
        corvane::DataMatrix x(n, d);
        for (double& v : x.values)
            v = normal(rng);
        const double seconds = seconds_of_best(x, threads, 3);
        const double flops =
            2.0 * static_cast<double>(n) * static_cast<double>(n) * static_cast<double>(d);
        std::printf("%zu %zu %zu %.6f %.3f\n", n, d, threads, seconds, flops / seconds / 1e9);
        std::fflush(stdout);
    }
    return 0;
}
