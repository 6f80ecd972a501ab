#include "mst/dual_tree_boruvka/leaf_pair_screen.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/dispatch.hpp"

#if CORVANE_VERSIONS
#include <immintrin.h>
#endif

// The kernel's helpers take and return 64-byte vectors; they are always inlined, so no
// call passes one across an ABI.
#pragma GCC diagnostic ignored "-Wpsabi"

#if CORVANE_VERSIONS
#pragma GCC push_options
#pragma GCC target("arch=x86-64-v4")
namespace corvane::screen_v4 {
inline constexpr std::size_t LANES = 8;
template <class Flags>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Flags flags) {
    return static_cast<std::uint64_t>(_mm512_movepi64_mask(reinterpret_cast<__m512i>(flags)));
}
#include "mst/dual_tree_boruvka/leaf_pair_screen_kernel.hpp"
}  // namespace corvane::screen_v4
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("arch=x86-64-v3")
namespace corvane::screen_v3 {
inline constexpr std::size_t LANES = 4;
template <class Flags>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Flags flags) {
    return static_cast<std::uint64_t>(_mm256_movemask_pd(reinterpret_cast<__m256d>(flags)));
}
#include "mst/dual_tree_boruvka/leaf_pair_screen_kernel.hpp"
}  // namespace corvane::screen_v3
#pragma GCC pop_options
#endif

// The portable copy: two lanes (one SSE2 register on x86-64), bits gathered lane by lane.
namespace corvane::screen_baseline {
inline constexpr std::size_t LANES = 2;
template <class Flags>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Flags flags) {
    return static_cast<std::uint64_t>(flags[0] & 1) | static_cast<std::uint64_t>(flags[1] & 1) << 1;
}
#include "mst/dual_tree_boruvka/leaf_pair_screen_kernel.hpp"
}  // namespace corvane::screen_baseline

namespace corvane {

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

std::vector<ScreenKernel> screen_kernels() {
    std::vector<ScreenKernel> kernels = {screen_baseline::screen_all};
#if CORVANE_VERSIONS
    kernels.push_back(screen_v3::screen_all);
    kernels.push_back(screen_v4::screen_all);
#endif
    kernels.resize(machine_levels());
    return kernels;
}

void screen_leaf_pairs(const ScreenLeaf& leaf, std::size_t dims, const ScreenQuery* queries,
                       std::size_t count, std::uint64_t* masks) {
    static const ScreenKernel best = screen_kernels().back();
    best(leaf, dims, queries, count, masks);
}

}  // namespace corvane
