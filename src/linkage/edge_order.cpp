#include "linkage/edge_order.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

namespace corvane {
namespace {

// Unsigned key whose order is the numeric order of the weight: positive
// floats keep their bits with the sign bit set, negative ones are inverted,
// both zeros meet in the middle and NaN goes last.
std::uint64_t weight_key(double weight) {
    constexpr std::uint64_t sign = std::uint64_t{1} << 63;
    if (std::isnan(weight)) return ~std::uint64_t{0};
    if (weight == 0.0) return sign;
    const auto bits = std::bit_cast<std::uint64_t>(weight);
    return (bits & sign) != 0 ? ~bits : bits | sign;
}

struct KeyedEdge {
    std::uint64_t key;
    std::size_t index;
};

// Least-significant-digit radix sort on 16-bit digits; digits that every key
// shares (usually the high ones: similar weights share sign and exponent)
// are skipped.
void radix_sort(std::vector<KeyedEdge>& items) {
    constexpr int digit_bits = 16;
    constexpr std::size_t buckets = std::size_t{1} << digit_bits;
    std::vector<KeyedEdge> buffer(items.size());
    std::vector<std::size_t> count(buckets);
    for (int shift = 0; shift < 64; shift += digit_bits) {
        std::fill(count.begin(), count.end(), 0);
        for (const KeyedEdge& item : items)
            ++count[(item.key >> shift) & (buckets - 1)];
        if (count[(items.front().key >> shift) & (buckets - 1)] == items.size()) continue;
        std::size_t offset = 0;
        for (std::size_t& c : count)
            offset += std::exchange(c, offset);
        for (const KeyedEdge& item : items) {
            buffer[count[(item.key >> shift) & (buckets - 1)]++] = item;
        }
        items.swap(buffer);
    }
}

bool endpoints_less(const MstEdge& x, const MstEdge& y) {
    const std::size_t x_low = std::min(x.a, x.b);
    const std::size_t y_low = std::min(y.a, y.b);
    if (x_low != y_low) return x_low < y_low;
    return std::max(x.a, x.b) < std::max(y.a, y.b);
}

}  // namespace

std::vector<MstEdge> sorted_edges(std::span<const MstEdge> edges) {
    std::vector<MstEdge> sorted;
    if (edges.empty()) return sorted;
    std::vector<KeyedEdge> keyed(edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i)
        keyed[i] = {weight_key(edges[i].weight), i};
    radix_sort(keyed);

    sorted.reserve(edges.size());
    for (const KeyedEdge& item : keyed)
        sorted.push_back(edges[item.index]);
    // Equal weights: by endpoints, run by run.
    for (std::size_t start = 0; start < keyed.size();) {
        std::size_t end = start + 1;
        while (end < keyed.size() && keyed[end].key == keyed[start].key)
            ++end;
        if (end - start > 1) {
            std::sort(sorted.begin() + static_cast<std::ptrdiff_t>(start),
                      sorted.begin() + static_cast<std::ptrdiff_t>(end), endpoints_less);
        }
        start = end;
    }
    return sorted;
}

}  // namespace corvane
