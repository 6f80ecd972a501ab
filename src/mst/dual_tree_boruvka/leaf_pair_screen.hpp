#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {

// The vector screen of the dual-tree search's Euclidean base case (alpha 1): for every
// query point of a leaf, which rows of a reference leaf could change a candidate. The
// search then visits only those pairs, in its usual order and with its usual scalar
// tests, so the screen decides nothing by itself: it only has to let through every pair
// that could matter.
//
// A pair (p, x) is let through when the components differ and its weight
// w = max_ignoring_nan(max_ignoring_nan(core_x, core_p), d) satisfies
// (w < own_p and w <= shared_p) or w < other_x, with d the squared distance summed in the
// one order of squared_distance (so w is bit for bit the weight the search computes) and
// own, shared, other the thresholds read when the screen was filled. Thresholds only
// fall during a search, so a pair kept out by earlier thresholds stays useless; a NaN
// weight passes no test, as in the search.
//
// Core terms enter as screen_core(core): a NaN becomes -infinity, which the maximum then
// ignores just as max_ignoring_nan ignores a NaN. The weights agree except where the
// search's weight is NaN (both core terms and d NaN): the screen then sees -infinity and
// lets the pair through, to a visit that changes nothing.

inline double screen_core(double core) {
    return core != core ? -std::numeric_limits<double>::infinity() : core;
}

// Rows per leaf (either side) that the screen takes; larger leaves take the scalar loop.
inline constexpr std::size_t SCREEN_MAX_ROWS = 64;
// Columns the screen is compiled for.
inline constexpr std::size_t SCREEN_MAX_DIMS = 8;
// The leaf's columns are padded to a whole block of this many rows, a multiple of the
// rows per vector of every instruction set.
inline constexpr std::size_t SCREEN_BLOCK = 8;

// The reference leaf, one array per column, with each row's core term (search units),
// component and the `other` threshold of that component.
struct ScreenLeaf {
    std::size_t count = 0;
    alignas(64) double columns[SCREEN_MAX_DIMS][SCREEN_MAX_ROWS];
    alignas(64) double core[SCREEN_MAX_ROWS];
    alignas(64) double other[SCREEN_MAX_ROWS];
    alignas(64) std::uint64_t component[SCREEN_MAX_ROWS];

    // Zeroes the padding after the last row up to a whole block, so that every lane
    // computes on defined values (the masks drop those lanes anyway).
    void pad(std::size_t dims);
};

// One query point: its row, core term, component and the thresholds own and shared.
struct ScreenQuery {
    const double* row;
    double core;
    std::uint64_t component;
    double own;
    double shared;
};

// masks[t] gets bit j set when the pair (queries[t], row j of `leaf`) is let through.
// `dims` is 1 .. SCREEN_MAX_DIMS. Runs the copy for the best instruction set the machine
// has.
void screen_leaf_pairs(const ScreenLeaf& leaf, std::size_t dims, const ScreenQuery* queries,
                       std::size_t count, std::uint64_t* masks);

// One copy of screen_leaf_pairs, compiled for one instruction set.
using ScreenKernel = void (*)(const ScreenLeaf& leaf, std::size_t dims, const ScreenQuery* queries,
                              std::size_t count, std::uint64_t* masks);

// Every copy the machine can run, from the portable one to the one screen_leaf_pairs
// takes (x86-64-v4, v3 and baseline where the compiler builds them), so that each can be
// checked against the others.
std::vector<ScreenKernel> screen_kernels();

}  // namespace corvane
