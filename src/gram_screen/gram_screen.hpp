#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace corvane {

// A screen that decides most comparisons "is the squared distance of rows x and y above
// T?" from norms and dot products, at the pace of a matrix product, and leaves every
// comparison it cannot decide to the exact distance (squared_distance, the one summation
// order). It never yields a distance itself: what it rejects is provably rejected by the
// exact value too, so the routes that use it give the results of the exact distance.
//
// Rows are grouped into blocks (contiguous ranges of at most MAX_BLOCK_ROWS rows). The
// screen works on the rows with the column means subtracted, x' = x - m (rounded), so that
// a common offset of the data does not cancel catastrophically in the dot products, scaled
// by a power of two 2^s that brings the largest |x'| coordinate into [1, 2), and rounded to
// single precision, which doubles the width of the vector units. Each block is packed in
// panels of PANEL rows, column-interleaved (panel p, column c, row r at p * PANEL * dims +
// c * PANEL + r, padding rows zero), the layout the block kernel streams.
//
// Rounding argument. Let u = 2^-53, v = 2^-24, R = |x'| + |y'|, S the exact squared
// distance of x and y as computed (any fixed summation order), N_x and N_y the squared
// norms of x' and y' computed in double precision, G their dot product computed in single
// precision from the scaled rows and scaled back (any order, with or without fused
// multiply-adds), and D = N_x + N_y - 2 G in real arithmetic.
//   1. |S - |x - y|^2| <= (d + 2) u |x - y|^2: one rounding per difference and square,
//      and d - 1 additions of non-negative terms in any order (gamma bounds).
//   2. Each x'[c] - (x[c] - m[c]) is at most u |x'[c]| in size, so by the triangle
//      inequality ||x' - y'| - |x - y|| <= u R and ||x' - y'|^2 - |x - y|^2| <= 2.01 u R^2.
//   3. |N_x - |x'|^2| <= d u |x'|^2. Rounding a scaled coordinate to single precision costs
//      a relative v, or an absolute 2^-150 below the smallest normal float; the products
//      and the sum cost (d + 1) v relative to the sum of |products|. So |G - x'.y'| <=
//      (d + 4) v |x'| |y'| + ABS (Cauchy-Schwarz), ABS = (4d + 8) 2^(-146 - 2s).
// With |x - y|^2 <= 1.01 R^2, 2 |x'| |y'| <= R^2 / 2 and R^2 <= 2 (N_x + N_y) (1 + d u),
// S >= D - ((d + 4) v + (4d + 11) u) (N_x + N_y) - 2 ABS. The screen evaluates
// L = (P_x + P_y) - 2 G with P_x = N_x (1 - KAPPA) - MU / 2 in double precision, whose
// roundings add at most 5 u (N_x + N_y); KAPPA = (2d + 16) v covers all relative terms with
// room to spare, so L <= S. The same margins make U = (Q_x + Q_y) - 2 G with
// Q_x = N_x (1 + KAPPA) + MU / 2 an upper bound: S <= U. Terms that fall below the smallest
// normal double lose their relative accuracy but not more than 2^-1075 each; MU =
// (8d + 32) 2^-1074 + 2 ABS covers them and the single-precision underflow (where N_x + N_y
// is large, the relative margin does, and where it is tiny, subnormal additions and
// subtractions are exact). A comparison "S >= T" is therefore decided when L >= T, and
// left to the exact distance otherwise. L is NaN or +infinity only when a value
// overflows, and such pairs are left to the exact distance as well.
struct GramScreen {
    static constexpr std::size_t PANEL = 16;
    static constexpr std::size_t MAX_BLOCK_ROWS = 128;

    std::size_t dims = 0;
    // Packed scaled centred rows of block b start at packed[block_offset[b]]; the block's
    // rows are padded to a multiple of PANEL.
    std::vector<float> packed;
    int scale_exponent = 0;  // s
    double dot_scale = 1.0;  // 2^-2s, which brings a packed dot product back
    std::vector<std::size_t> block_offset;
    // Per row (in the order of the rows given to build): N (1 - KAPPA) - MU / 2 for the
    // lower bound L, N (1 + KAPPA) + MU / 2 for the upper bound U.
    std::vector<double> offset;
    std::vector<double> upper_offset;
    std::vector<double> mean;  // the column means subtracted

    // `rows`: n x dims, row-major; `block_starts`: the first rows of ascending, disjoint
    // blocks covering [0, n), each of at most MAX_BLOCK_ROWS rows. The column means are
    // (and the scale) those of `rows`, or those of `like` when given, so that rows packed apart
    // (new points) can be screened against its blocks.
    static GramScreen build(std::span<const double> rows, std::size_t dims,
                            std::span<const std::size_t> block_starts,
                            const GramScreen* like = nullptr);

    const float* block(std::size_t b) const { return packed.data() + block_offset[b]; }
};

// Row pairs of one block pair that the screen leaves open, as (query row, reference row)
// offsets within the two blocks.
struct OpenPair {
    std::uint16_t query;
    std::uint16_t reference;
};

// Scratch of one worker: the dot products of a block pair and the open pairs.
struct ScreenScratch {
    std::vector<float> dots =
        std::vector<float>(GramScreen::MAX_BLOCK_ROWS * GramScreen::MAX_BLOCK_ROWS);
    std::vector<OpenPair> open =
        std::vector<OpenPair>(GramScreen::MAX_BLOCK_ROWS * GramScreen::MAX_BLOCK_ROWS);
    std::size_t stride = 0;  // of `dots`
};

// One block pair to screen: the `query_rows` rows of block `query_block` of the query
// screen against the `reference_rows` rows of `reference_block` of the reference screen
// (the same screen in a fit, the training screen and the new points' in a prediction).
// `query_first` and `reference_first` are the numbers of the two blocks' first rows in their
// screens (indices into GramScreen::offset).
struct BlockPair {
    const GramScreen* query_screen;
    std::size_t query_block;
    std::size_t query_first;
    std::size_t query_rows;
    const GramScreen* reference_screen;
    std::size_t reference_block;
    std::size_t reference_first;
    std::size_t reference_rows;
};

// The pairs of `pair` whose squared distance the screen cannot prove to exceed the query
// row's threshold (`threshold[i]` for query row i): they are written to scratch.open,
// ascending by (query, reference), and their count is returned. A row with threshold
// +infinity keeps every pair open; one with -infinity only pairs whose screen value
// overflowed.
std::size_t screen_block_pair(const BlockPair& pair, std::span<const double> threshold,
                              ScreenScratch& scratch);

// One side of a grouped screen: per row a squared-distance threshold, a group and a term
// that every pair weight of the row is at least (a squared core distance; -infinity for
// none), in the units of the threshold.
struct ScreenSide {
    std::span<double> threshold;
    std::span<const std::size_t> group;
    std::span<const double> floor;
};

// The screen of a search for pairs of different groups whose weight max(floor_i, floor_j,
// S) may lie at or below the larger of their two rows' thresholds. A pair of one group is
// never open. With `tighten` every row's threshold is
// first lowered to the smallest upper bound max(floor_i, floor_j, U) over its pairs with
// other groups (it holds an edge at least that cheap), so that a threshold of +infinity
// does not open every pair; the lowered thresholds are written back. The weights must then
// be exactly max(floor_i, floor_j, S). Works on the dot products that block_dots left in
// `scratch` and appends the open pairs, as screen_block_pair writes them, to
// scratch.open from position `open`; returns the new count.
std::size_t screen_grouped_pair(const BlockPair& pair, const ScreenSide& query,
                                const ScreenSide& reference, bool tighten, ScreenScratch& scratch,
                                std::size_t open);

// The dot products of a block pair into scratch, for screen_grouped_pair.
void block_dots(const BlockPair& pair, ScreenScratch& scratch);

}  // namespace corvane
