#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/internal_error.hpp"
#include "gram_screen/gram_screen.hpp"

namespace corvane {

GramScreen GramScreen::build(std::span<const double> rows, std::size_t dims,
                             std::span<const std::size_t> block_starts, const GramScreen* like) {
    const std::size_t n = dims == 0 ? 0 : rows.size() / dims;
    if (dims == 0 || rows.size() != n * dims || block_starts.empty() || block_starts[0] != 0 ||
        (like != nullptr && like->dims != dims)) {
        fail_internal("GramScreen::build: inconsistent rows or blocks");
    }
    GramScreen screen;
    screen.dims = dims;

    std::vector<double>& mean = screen.mean;
    if (like != nullptr) {
        mean = like->mean;
    } else {
        mean.assign(dims, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t c = 0; c < dims; ++c)
                mean[c] += rows[i * dims + c];
        }
        for (double& m : mean)
            m /= static_cast<double>(n);
    }

    if (like != nullptr) {
        screen.scale_exponent = like->scale_exponent;
    } else {
        double largest = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t c = 0; c < dims; ++c)
                largest = std::max(largest, std::fabs(rows[i * dims + c] - mean[c]));
        }
        screen.scale_exponent = largest > 0.0 && std::isfinite(largest) ? -std::ilogb(largest) : 0;
    }
    const int s = screen.scale_exponent;
    screen.dot_scale = std::ldexp(1.0, -2 * s);
    const double d = static_cast<double>(dims);
    const double kappa = (2.0 * d + 16.0) * std::ldexp(1.0, -24);
    const double mu =
        std::ldexp(8.0 * d + 32.0, -1074) + 2.0 * std::ldexp(4.0 * d + 8.0, -146 - 2 * s);
    screen.offset.resize(n);
    screen.upper_offset.resize(n);
    screen.block_offset.resize(block_starts.size());
    std::size_t total = 0;
    for (std::size_t b = 0; b < block_starts.size(); ++b) {
        const std::size_t end = b + 1 < block_starts.size() ? block_starts[b + 1] : n;
        const std::size_t count = end - block_starts[b];
        if (end <= block_starts[b] || count > MAX_BLOCK_ROWS) {
            fail_internal("GramScreen::build: block of " + std::to_string(count) + " rows");
        }
        screen.block_offset[b] = total;
        total += (count + PANEL - 1) / PANEL * PANEL * dims;
    }
    screen.packed.assign(total, 0.0f);
    for (std::size_t b = 0; b < block_starts.size(); ++b) {
        const std::size_t start = block_starts[b];
        const std::size_t end = b + 1 < block_starts.size() ? block_starts[b + 1] : n;
        float* block = screen.packed.data() + screen.block_offset[b];
        for (std::size_t i = start; i < end; ++i) {
            const std::size_t r = i - start;
            float* dest = block + r / PANEL * PANEL * dims + r % PANEL;
            double norm = 0.0;
            for (std::size_t c = 0; c < dims; ++c) {
                const double centred = rows[i * dims + c] - mean[c];
                dest[c * PANEL] = static_cast<float>(std::ldexp(centred, s));
                norm += centred * centred;
            }
            screen.offset[i] = norm * (1.0 - kappa) - mu / 2;
            screen.upper_offset[i] = norm * (1.0 + kappa) + mu / 2;
        }
    }
    return screen;
}

}  // namespace corvane
