#include "mst/prim/gram_matrix.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "parallel/parallel.hpp"

namespace corvane {
namespace {

// Rows of one packed panel; the micro-tile is ROWS x PANEL entries of G, held
// in registers (eight 256-bit accumulators) while the columns stream by.
constexpr std::size_t PANEL = 8;
constexpr std::size_t ROWS = 4;
// Columns per pass over a tile, so that a panel slice stays in the L1 cache.
constexpr std::size_t DEPTH = 256;
// Rows and columns of G per tile: the unit of work of one thread, and the
// block that is mirrored below the diagonal while it is still in cache.
constexpr std::size_t TILE = 128;

// packed[p * PANEL * d + c * PANEL + r] = x[p * PANEL + r][c], zero for the
// padding rows past n: a panel slice of any column range is contiguous.
std::vector<double> pack_panels(const DataMatrix& x) {
    const std::size_t d = x.cols;
    const std::size_t panels = (x.rows + PANEL - 1) / PANEL;
    std::vector<double> packed(panels * PANEL * d, 0.0);
    for (std::size_t i = 0; i < x.rows; ++i) {
        double* dest = packed.data() + (i / PANEL) * PANEL * d + i % PANEL;
        const double* src = x.row(i);
        for (std::size_t c = 0; c < d; ++c)
            dest[c * PANEL] = src[c];
    }
    return packed;
}

// Four doubles, one 256-bit register where the target has them (two 128-bit
// halves otherwise). Lane-wise arithmetic only, so every entry of G keeps its
// own sequential sum.
typedef double Lanes __attribute__((vector_size(4 * sizeof(double))));

// tile[r][j] += a[c][r] * b[c][j] for c in [0, depth), both operands in packed
// panel layout (`a` may start at the second half of a panel): ROWS broadcasts
// of `a` times the PANEL values of `b`, accumulated in eight registers. The
// running sums are only ever extended in column order, so blocking never
// changes a value. No FMA clone: contraction would round differently from
// machines without it.
//
// ThreadSanitizer instruments the clone resolver, which the loader runs before
// the sanitizer's runtime exists; those builds keep the default clone only.
#ifdef __SANITIZE_THREAD__
#define CORVANE_AVX2_CLONE
#else
#define CORVANE_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#endif
CORVANE_AVX2_CLONE void micro_tile(const double* __restrict a, const double* __restrict b,
                                   std::size_t depth, double* __restrict tile,
                                   std::size_t tile_stride) {
    Lanes acc[ROWS][2];
    for (std::size_t r = 0; r < ROWS; ++r) {
        std::memcpy(&acc[r], tile + r * tile_stride, sizeof(acc[r]));
    }
    for (std::size_t c = 0; c < depth; ++c) {
        Lanes b0;
        Lanes b1;
        std::memcpy(&b0, b + c * PANEL, sizeof(b0));
        std::memcpy(&b1, b + c * PANEL + 4, sizeof(b1));
        for (std::size_t r = 0; r < ROWS; ++r) {
            const double ar = a[c * PANEL + r];
            const Lanes broadcast = {ar, ar, ar, ar};
            acc[r][0] += broadcast * b0;
            acc[r][1] += broadcast * b1;
        }
    }
    for (std::size_t r = 0; r < ROWS; ++r) {
        std::memcpy(tile + r * tile_stride, &acc[r], sizeof(acc[r]));
    }
}

struct TileRange {
    std::size_t row_start;
    std::size_t col_start;
};

// Computes the tile of G at rows [row_start, +TILE) and columns [col_start,
// +TILE) into `tile` (TILE x TILE scratch), then stores it and, for tiles above
// the diagonal, its mirror image.
void compute_tile(const std::vector<double>& packed, std::size_t n, std::size_t d, TileRange range,
                  std::vector<double>& tile, double* g) {
    const std::size_t rows = std::min(TILE, n - range.row_start);
    const std::size_t cols = std::min(TILE, n - range.col_start);
    const std::size_t padded_rows = (rows + PANEL - 1) / PANEL * PANEL;
    const std::size_t padded_cols = (cols + PANEL - 1) / PANEL * PANEL;
    std::fill(tile.begin(), tile.end(), 0.0);
    const std::size_t panel_size = PANEL * d;
    for (std::size_t c0 = 0; c0 < d; c0 += DEPTH) {
        const std::size_t depth = std::min(DEPTH, d - c0);
        for (std::size_t j = 0; j < padded_cols; j += PANEL) {
            const double* b =
                packed.data() + (range.col_start + j) / PANEL * panel_size + c0 * PANEL;
            for (std::size_t i = 0; i < padded_rows; i += ROWS) {
                const std::size_t row = range.row_start + i;
                const double* a =
                    packed.data() + row / PANEL * panel_size + c0 * PANEL + row % PANEL;
                micro_tile(a, b, depth, tile.data() + i * TILE + j, TILE);
            }
        }
    }
    for (std::size_t i = 0; i < rows; ++i) {
        std::copy_n(tile.data() + i * TILE, cols, g + (range.row_start + i) * n + range.col_start);
    }
    if (range.row_start != range.col_start) {
        for (std::size_t j = 0; j < cols; ++j) {
            double* dest = g + (range.col_start + j) * n + range.row_start;
            for (std::size_t i = 0; i < rows; ++i)
                dest[i] = tile[i * TILE + j];
        }
    }
}

// Uninitialised storage for `count` doubles. Large matrices go on 2 MiB
// boundaries, marked for transparent huge pages: with 4 KiB pages, faulting in
// the up to 512 MB of a Gram matrix costs more than computing it.
std::unique_ptr<double[], FreeDeleter> allocate_matrix(std::size_t count) {
    constexpr std::size_t huge_page = std::size_t{2} << 20;
    const std::size_t wanted = std::max<std::size_t>(count * sizeof(double), 1);
    const std::size_t alignment = wanted >= huge_page ? huge_page : 64;
    const std::size_t bytes = (wanted + alignment - 1) / alignment * alignment;
    void* memory = std::aligned_alloc(alignment, bytes);
    if (memory == nullptr) throw std::bad_alloc();
    if (alignment == huge_page) madvise(memory, bytes, MADV_HUGEPAGE);  // a hint only
    return std::unique_ptr<double[], FreeDeleter>(static_cast<double*>(memory));
}

}  // namespace

DataMatrix centred_columns(const DataMatrix& data) {
    DataMatrix centred(data.rows, data.cols);
    if (data.rows == 0) return centred;
    std::vector<double> mean(data.cols, 0.0);
    for (std::size_t i = 0; i < data.rows; ++i) {
        const double* row = data.row(i);
        for (std::size_t c = 0; c < data.cols; ++c)
            mean[c] += row[c];
    }
    for (double& m : mean)
        m /= static_cast<double>(data.rows);
    for (std::size_t i = 0; i < data.rows; ++i) {
        const double* row = data.row(i);
        double* out = centred.row(i);
        for (std::size_t c = 0; c < data.cols; ++c)
            out[c] = row[c] - mean[c];
    }
    return centred;
}

GramMatrix gram_matrix(const DataMatrix& x, const ExecutionContext& context) {
    const std::size_t n = x.rows;
    const std::size_t d = x.cols;
    if (n != 0 && n > std::numeric_limits<std::size_t>::max() / sizeof(double) / n) {
        throw std::bad_alloc();
    }
    GramMatrix g{n, allocate_matrix(n * n)};
    if (n == 0) return g;

    const std::vector<double> packed = pack_panels(x);
    std::vector<TileRange> tiles;
    for (std::size_t row = 0; row < n; row += TILE) {
        for (std::size_t col = row; col < n; col += TILE)
            tiles.push_back({row, col});
    }
    // Every tile costs the same, so dealing them out in turn balances the
    // workers; which worker computes a tile does not affect its values.
    const std::size_t workers =
        n < PARALLEL_MIN_ROWS ? 1
                              : std::max<std::size_t>(1, std::min(context.threads(), tiles.size()));
    const auto work = [&](std::size_t worker) {
        std::vector<double> tile(TILE * TILE);
        for (std::size_t t = worker; t < tiles.size(); t += workers) {
            context.check();
            compute_tile(packed, n, d, tiles[t], tile, g.values.get());
        }
    };
    run_tasks(context, workers, work);
    return g;
}

}  // namespace corvane
