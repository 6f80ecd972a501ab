// Compiled with fused multiply-adds allowed (see floor_kernel.hpp).
#include "block_search/floor_kernel.hpp"

#include <cstring>

#include "common/dispatch.hpp"

namespace corvane {
namespace {

constexpr std::size_t LANES = 8;
typedef double Lanes __attribute__((vector_size(LANES * sizeof(double))));

}  // namespace

CORVANE_DISPATCH void unordered_squared_distances(const double* rows, std::size_t count,
                                                  std::size_t dims, const double* point,
                                                  double* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const double* row = rows + i * dims;
        Lanes sum{};
        std::size_t c = 0;
        for (; c + LANES <= dims; c += LANES) {
            Lanes a;
            Lanes b;
            std::memcpy(&a, row + c, sizeof(Lanes));
            std::memcpy(&b, point + c, sizeof(Lanes));
            const Lanes t = a - b;
            sum += t * t;
        }
        double total = 0.0;
        for (std::size_t lane = 0; lane < LANES; ++lane)
            total += sum[lane];
        for (; c < dims; ++c) {
            const double t = row[c] - point[c];
            total += t * t;
        }
        out[i] = total;
    }
}

}  // namespace corvane
