// Peak memory of the dense Prim route (non-Euclidean metrics), which must stay
// linear in n: for each n, a child process builds n random points, records its
// peak resident size, runs prim_dense_mst under manhattan and records it again.
// Prints the growth beyond the input next to what one stored n x n matrix of
// doubles would take, and their ratio.
//
// Usage: dense_prim_memory [N ...]   (default 5000 10000 20000; 8 columns)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "mst/prim/prim.hpp"

namespace {

constexpr std::size_t COLUMNS = 8;
constexpr std::size_t K = 5;

double peak_resident_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void measure(std::size_t n) {
    corvane::DataMatrix data(n, COLUMNS);
    std::mt19937_64 rng(n);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (double& v : data.values)
        v = normal(rng);
    const double before = peak_resident_mb();
    const auto start = std::chrono::steady_clock::now();
    const corvane::MstResult result =
        corvane::prim_dense_mst(data, corvane::Metric::manhattan(), K, 1.0);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double growth = peak_resident_mb() - before;
    const double matrix_mb = static_cast<double>(n) * static_cast<double>(n) * 8.0 / 1048576.0;
    std::printf("%6zu %8.1f %12.1f %12.1f %10.4f %8.2f  (%zu edges)\n", n,
                static_cast<double>(n * COLUMNS * 8) / 1048576.0, growth, matrix_mb,
                growth / matrix_mb, elapsed.count(), result.edges.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int a = 1; a < argc; ++a)
        sizes.push_back(std::stoul(argv[a]));
    if (sizes.empty()) sizes = {5000, 10000, 20000};
    std::printf("%6s %8s %12s %12s %10s %8s\n", "n", "input MB", "peak+ MB", "n*n*8 MB", "ratio",
                "seconds");
    std::fflush(stdout);
    for (std::size_t n : sizes) {
        // A fresh process per size, so that each peak belongs to one run only.
        const pid_t child = fork();
        if (child < 0) return 1;
        if (child == 0) {
            measure(n);
            std::fflush(stdout);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    }
    return 0;
}
