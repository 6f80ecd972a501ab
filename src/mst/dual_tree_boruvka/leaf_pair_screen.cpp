#include "mst/dual_tree_boruvka/leaf_pair_screen.hpp"

#include "common/dispatch.hpp"

namespace corvane {
namespace {

// The squared distance of row j of the leaf to `point`, summed exactly as
// squared_distance sums one pair for Dims <= 8: column c goes to lane c % 4 as a running
// sum, and the lanes combine as (0 + 1) + (2 + 3). An empty lane is +0, and adding +0 to
// a sum of squares (never -0) leaves it as it is, so empty lanes are left out.
template <std::size_t Dims>
[[gnu::always_inline]] inline double squared_distance_to(const ScreenLeaf& leaf, std::size_t j,
                                                         const double* point) {
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t c = 0; c < Dims; ++c) {
        const double t = point[c] - leaf.columns[c][j];
        if (c < 4) {
            lane[c] = t * t;
        } else {
            lane[c - 4] += t * t;
        }
    }
    if constexpr (Dims == 1) return lane[0];
    if constexpr (Dims == 2) return lane[0] + lane[1];
    if constexpr (Dims == 3) return (lane[0] + lane[1]) + lane[2];
    if constexpr (Dims >= 4) return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

// Written lane by lane in plain loops of one block: the loop vectoriser, which runs in
// each instruction-set version, turns the block into vector compares and masks.
template <std::size_t Dims>
[[gnu::always_inline]] inline void screen(const ScreenLeaf& leaf, const ScreenQuery* queries,
                                          std::size_t count, std::uint64_t* masks) {
    const std::uint64_t used =
        leaf.count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << leaf.count) - 1;
    for (std::size_t t = 0; t < count; ++t) {
        const ScreenQuery& query = queries[t];
        std::uint64_t mask = 0;
        for (std::size_t block = 0; block < leaf.count; block += SCREEN_BLOCK) {
            std::uint64_t bits = 0;
            for (std::size_t lane = 0; lane < SCREEN_BLOCK; ++lane) {
                const std::size_t j = block + lane;
                const double d = squared_distance_to<Dims>(leaf, j, query.row);
                // max_ignoring_nan twice, for core terms that are not NaN.
                const double core = leaf.core[j] < query.core ? query.core : leaf.core[j];
                const double w = core < d ? d : core;
                const bool open = (leaf.component[j] != query.component) &
                                  (((w < query.own) & (w <= query.shared)) | (w < leaf.other[j]));
                bits |= static_cast<std::uint64_t>(open) << lane;
            }
            mask |= bits << block;
        }
        masks[t] = mask & used;
    }
}

}  // namespace

void ScreenLeaf::pad(std::size_t dims) {
    const std::size_t end = (count + SCREEN_BLOCK - 1) / SCREEN_BLOCK * SCREEN_BLOCK;
    for (std::size_t j = count; j < end; ++j) {
        for (std::size_t c = 0; c < dims; ++c)
            columns[c][j] = 0.0;
        core[j] = 0.0;
        other[j] = 0.0;
        component[j] = 0;
    }
}

CORVANE_DISPATCH void screen_leaf_pairs(const ScreenLeaf& leaf, std::size_t dims,
                                        const ScreenQuery* queries, std::size_t count,
                                        std::uint64_t* masks) {
    // A switch rather than a table of calls, so that every width is inlined into each
    // instruction-set version of this function.
    switch (dims) {
        case 1: return screen<1>(leaf, queries, count, masks);
        case 2: return screen<2>(leaf, queries, count, masks);
        case 3: return screen<3>(leaf, queries, count, masks);
        case 4: return screen<4>(leaf, queries, count, masks);
        case 5: return screen<5>(leaf, queries, count, masks);
        case 6: return screen<6>(leaf, queries, count, masks);
        case 7: return screen<7>(leaf, queries, count, masks);
        case 8: return screen<8>(leaf, queries, count, masks);
        default: return;
    }
}

}  // namespace corvane
