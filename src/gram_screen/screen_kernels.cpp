// The hot loops of the screen: dot products of two packed blocks and the comparison of the
// screen values with the thresholds. This file is compiled with fused multiply-adds
// allowed: the rounding argument of gram_screen.hpp holds with and without them, so the
// machine's best instructions may differ in the last bits of a dot product without
// changing any result.
#include <algorithm>
#include <cstring>
#include <limits>

#include "common/dispatch.hpp"
#include "gram_screen/gram_screen.hpp"

namespace corvane {
namespace {

constexpr std::size_t PANEL = GramScreen::PANEL;
// Query rows per micro-tile: a tile of TILE_ROWS x PANELS * PANEL single-precision dot
// products stays in registers while the columns stream by.
constexpr std::size_t TILE_ROWS = 4;
// Columns per pass, so that the reference panels' slices stay in the L1 cache.
constexpr std::size_t DEPTH = 128;

typedef float Lanes __attribute__((vector_size(PANEL * sizeof(float))));

// tile[r][j] (+)= sum over c < depth of a[c * PANEL + r] * b_p[c * PANEL + j], for the
// TILE_ROWS query rows at `a` (packed panel layout, possibly the second half of a panel)
// and the PANELS panels of PANEL reference rows at b, b + panel_size, ... Each of the
// TILE_ROWS * PANELS accumulators is a dependency chain of its own: the fused
// multiply-adds of one chain wait for each other, so a tile needs as many chains as the
// machine keeps in flight (eight of 16 lanes with 512-bit units, eight of 8 with 256-bit
// ones), and no more than its registers hold.
template <std::size_t PANELS>
[[gnu::always_inline]] inline void micro_tile(const float* __restrict a, const float* __restrict b,
                                              std::size_t panel_size, std::size_t depth,
                                              float* __restrict tile, std::size_t stride,
                                              bool accumulate) {
    Lanes acc[TILE_ROWS][PANELS];
    for (std::size_t r = 0; r < TILE_ROWS; ++r) {
        for (std::size_t p = 0; p < PANELS; ++p) {
            if (accumulate) {
                std::memcpy(&acc[r][p], tile + r * stride + p * PANEL, sizeof(Lanes));
            } else {
                acc[r][p] = Lanes{};
            }
        }
    }
    for (std::size_t c = 0; c < depth; ++c) {
        Lanes column[PANELS];
        for (std::size_t p = 0; p < PANELS; ++p)
            std::memcpy(&column[p], b + p * panel_size + c * PANEL, sizeof(Lanes));
        for (std::size_t r = 0; r < TILE_ROWS; ++r) {
            const float x = a[c * PANEL + r];
            for (std::size_t p = 0; p < PANELS; ++p)
                acc[r][p] += x * column[p];
        }
    }
    for (std::size_t r = 0; r < TILE_ROWS; ++r) {
        for (std::size_t p = 0; p < PANELS; ++p)
            std::memcpy(tile + r * stride + p * PANEL, &acc[r][p], sizeof(Lanes));
    }
}

// dots[i * stride + j] = centred row i of the query block . centred row j of the
// reference block, for i below `query_rows` rounded up to TILE_ROWS and j below
// `reference_rows` rounded up to PANEL (padding rows are zero). Reference panels are taken
// PANELS at a time, a last odd one alone.
template <std::size_t PANELS>
[[gnu::always_inline]] inline void tiled_dot_products(const float* query, std::size_t query_rows,
                                                      const float* reference,
                                                      std::size_t reference_rows, std::size_t dims,
                                                      float* dots, std::size_t stride) {
    const std::size_t panel_size = PANEL * dims;
    for (std::size_t c0 = 0; c0 < dims; c0 += DEPTH) {
        const std::size_t depth = std::min(DEPTH, dims - c0);
        std::size_t j = 0;
        const auto pass = [&]<std::size_t P>() {
            const float* b = reference + j / PANEL * panel_size + c0 * PANEL;
            for (std::size_t i = 0; i < query_rows; i += TILE_ROWS) {
                const float* a = query + i / PANEL * panel_size + c0 * PANEL + i % PANEL;
                micro_tile<P>(a, b, panel_size, depth, dots + i * stride + j, stride, c0 > 0);
            }
            j += P * PANEL;
        };
        for (; j + PANELS * PANEL <= reference_rows;)
            pass.template operator()<PANELS>();
        for (; j < reference_rows;)
            pass.template operator()<1>();
    }
}

// Two panels per tile where 32 vector registers hold eight accumulators of 16 lanes; one
// where 16 registers hold eight of 8 lanes (two per Lanes) or the baseline's 16 of 4.
#if CORVANE_VERSIONS
__attribute__((target("arch=x86-64-v4"))) void block_dot_products(
    const float* query, std::size_t query_rows, const float* reference, std::size_t reference_rows,
    std::size_t dims, float* dots, std::size_t stride) {
    tiled_dot_products<2>(query, query_rows, reference, reference_rows, dims, dots, stride);
}

__attribute__((target("arch=x86-64-v3"))) void block_dot_products(
    const float* query, std::size_t query_rows, const float* reference, std::size_t reference_rows,
    std::size_t dims, float* dots, std::size_t stride) {
    tiled_dot_products<1>(query, query_rows, reference, reference_rows, dims, dots, stride);
}

__attribute__((target("default")))
#endif
void block_dot_products(const float* query, std::size_t query_rows, const float* reference,
                        std::size_t reference_rows, std::size_t dims, float* dots,
                        std::size_t stride) {
    tiled_dot_products<1>(query, query_rows, reference, reference_rows, dims, dots, stride);
}

// Appends the open pairs of query rows [0, query_rows) to `open`; returns the new count.
// A pair is closed when L = (P_i + P_j) - 2 dot > threshold and L is finite (see the
// rounding argument); rows are first counted with a vectorised pass, and only rows with
// open pairs are scanned for them.
CORVANE_DISPATCH std::size_t open_pairs(const float* dots, double two_scale, std::size_t stride,
                                        std::size_t query_rows, std::size_t reference_rows,
                                        const double* query_offset, const double* reference_offset,
                                        const double* threshold, OpenPair* open) {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    std::size_t count = 0;
    for (std::size_t i = 0; i < query_rows; ++i) {
        const double t = threshold[i];
        const double p = query_offset[i];
        const float* row = dots + i * stride;
        const auto closed = [&](std::size_t j) {
            const double l = (p + reference_offset[j]) - two_scale * static_cast<double>(row[j]);
            return l > t && l < infinity;
        };
        if (!(t < infinity)) {
            for (std::size_t j = 0; j < reference_rows; ++j)
                open[count++] = {static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(j)};
            continue;
        }
        std::size_t hits = 0;
        for (std::size_t j = 0; j < reference_rows; ++j)
            hits += closed(j) ? 0 : 1;
        if (hits == 0) continue;
        for (std::size_t j = 0; j < reference_rows; ++j) {
            if (!closed(j)) {
                open[count++] = {static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(j)};
            }
        }
    }
    return count;
}

struct SideView {
    const double* lower;  // offsets for L
    const double* upper;  // offsets for U
    double* threshold;
    const std::size_t* group;
    const double* floor;
};

// See screen_grouped_pair. The first pass lowers the thresholds (row minima and column
// minima of the pairs' upper bounds), the second collects the open pairs.
CORVANE_DISPATCH std::size_t open_grouped_pairs(const float* dots, double two_scale,
                                                std::size_t stride, std::size_t query_rows,
                                                std::size_t reference_rows, SideView q, SideView r,
                                                bool tighten, OpenPair* open) {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    if (tighten) {
        for (std::size_t i = 0; i < query_rows; ++i) {
            const float* row = dots + i * stride;
            const double up = q.upper[i];
            const double fi = q.floor[i];
            const std::size_t gi = q.group[i];
            double smallest = q.threshold[i];
            for (std::size_t j = 0; j < reference_rows; ++j) {
                double w = (up + r.upper[j]) - two_scale * static_cast<double>(row[j]);
                w = w < fi ? fi : w;
                w = w < r.floor[j] ? r.floor[j] : w;
                const double counted = r.group[j] != gi ? w : infinity;
                smallest = counted < smallest ? counted : smallest;
                r.threshold[j] = counted < r.threshold[j] ? counted : r.threshold[j];
            }
            q.threshold[i] = smallest;
        }
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i < query_rows; ++i) {
        const float* row = dots + i * stride;
        const double low = q.lower[i];
        const double ti = q.threshold[i];
        const double fi = q.floor[i];
        const std::size_t gi = q.group[i];
        const auto is_open = [&](std::size_t j) {
            const double t = ti < r.threshold[j] ? r.threshold[j] : ti;
            const double f = fi < r.floor[j] ? r.floor[j] : fi;
            const double l = (low + r.lower[j]) - two_scale * static_cast<double>(row[j]);
            const bool closed = f > t || (l > t && l < infinity);
            return r.group[j] != gi && !closed;
        };
        std::size_t hits = 0;
        for (std::size_t j = 0; j < reference_rows; ++j)
            hits += is_open(j) ? 1 : 0;
        if (hits == 0) continue;
        for (std::size_t j = 0; j < reference_rows; ++j) {
            if (is_open(j)) {
                open[count++] = {static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(j)};
            }
        }
    }
    return count;
}

}  // namespace

void block_dots(const BlockPair& pair, ScreenScratch& scratch) {
    const std::size_t query_rows = (pair.query_rows + TILE_ROWS - 1) / TILE_ROWS * TILE_ROWS;
    scratch.stride = (pair.reference_rows + PANEL - 1) / PANEL * PANEL;
    block_dot_products(pair.query_screen->block(pair.query_block), query_rows,
                       pair.reference_screen->block(pair.reference_block), scratch.stride,
                       pair.query_screen->dims, scratch.dots.data(), scratch.stride);
}

std::size_t screen_grouped_pair(const BlockPair& pair, const ScreenSide& query,
                                const ScreenSide& reference, bool tighten, ScreenScratch& scratch,
                                std::size_t open) {
    const GramScreen& qs = *pair.query_screen;
    const GramScreen& rs = *pair.reference_screen;
    const SideView q{qs.offset.data() + pair.query_first, qs.upper_offset.data() + pair.query_first,
                     query.threshold.data(), query.group.data(), query.floor.data()};
    const SideView r{rs.offset.data() + pair.reference_first,
                     rs.upper_offset.data() + pair.reference_first, reference.threshold.data(),
                     reference.group.data(), reference.floor.data()};
    return open + open_grouped_pairs(scratch.dots.data(), 2.0 * qs.dot_scale, scratch.stride,
                                     pair.query_rows, pair.reference_rows, q, r, tighten,
                                     scratch.open.data() + open);
}

std::size_t screen_block_pair(const BlockPair& pair, std::span<const double> threshold,
                              ScreenScratch& scratch) {
    block_dots(pair, scratch);
    return open_pairs(scratch.dots.data(), 2.0 * pair.query_screen->dot_scale, scratch.stride,
                      pair.query_rows, pair.reference_rows,
                      pair.query_screen->offset.data() + pair.query_first,
                      pair.reference_screen->offset.data() + pair.reference_first, threshold.data(),
                      scratch.open.data());
}

}  // namespace corvane
