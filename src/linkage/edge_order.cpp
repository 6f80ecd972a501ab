#include "linkage/edge_order.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "parallel/checked_sort.hpp"

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

// Least-significant-digit radix sort on 11-bit digits, whose 2048 buckets keep
// the scatter within the caches. One read fills every digit's histogram;
// digits that every key shares (usually the high ones: similar weights share
// sign and exponent) are skipped.
void radix_sort(std::vector<KeyedEdge>& items, const ExecutionContext& context) {
    constexpr int digit_bits = 11;
    constexpr int digits = (64 + digit_bits - 1) / digit_bits;
    constexpr std::size_t buckets = std::size_t{1} << digit_bits;
    constexpr std::uint64_t mask = buckets - 1;
    std::vector<std::size_t> count(digits * buckets, 0);
    std::size_t* const counts = count.data();
    const KeyedEdge* const all = items.data();
    for_each_checked(context, 0, items.size(), [&](std::size_t i) {
        for (int digit = 0; digit < digits; ++digit)
            ++counts[digit * buckets + ((all[i].key >> (digit * digit_bits)) & mask)];
    });
    std::vector<KeyedEdge> buffer(items.size());
    for (int digit = 0; digit < digits; ++digit) {
        const int shift = digit * digit_bits;
        std::size_t* const offsets = count.data() + digit * buckets;
        if (offsets[(items.front().key >> shift) & mask] == items.size()) continue;
        std::size_t offset = 0;
        for (std::size_t b = 0; b < buckets; ++b)
            offset += std::exchange(offsets[b], offset);
        const KeyedEdge* const in = items.data();
        KeyedEdge* const out = buffer.data();
        for_each_checked(context, 0, items.size(), [&](std::size_t i) {
            out[offsets[(in[i].key >> shift) & mask]++] = in[i];
        });
        items.swap(buffer);
    }
}

bool endpoints_less(const MstEdge& x, const MstEdge& y) {
    const std::size_t x_low = std::min(x.a, x.b);
    const std::size_t y_low = std::min(y.a, y.b);
    if (x_low != y_low) return x_low < y_low;
    return std::max(x.a, x.b) < std::max(y.a, y.b);
}

bool weight_less(const MstEdge& x, const MstEdge& y) {
    return weight_key(x.weight) < weight_key(y.weight);
}

// Starts of the maximal runs already in weight order, or nothing when there
// are more than `limit` of them.
std::vector<std::size_t> sorted_run_starts(std::span<const MstEdge> edges, std::size_t limit,
                                           const ExecutionContext& context) {
    std::vector<std::size_t> starts{0};
    constexpr std::size_t stretch = ExecutionContext::SHORT_STEPS_PER_CHECK;
    for (std::size_t begin = 1; begin < edges.size(); begin += stretch) {
        context.check();
        const std::size_t end = std::min(edges.size(), begin + stretch);
        for (std::size_t i = begin; i < end; ++i) {
            if (weight_less(edges[i], edges[i - 1])) {
                if (starts.size() == limit) return {};
                starts.push_back(i);
            }
        }
    }
    return starts;
}

// std::merge by weight, with interruption checks between stretches of steps. Each step
// takes one element, so a stretch no longer than the shorter side cannot exhaust either.
template <class In, class Out>
Out merge_by_weight(In a, In a_end, In b, In b_end, Out out, const ExecutionContext& context) {
    while (a != a_end && b != b_end) {
        context.check();
        const auto steps = std::min<std::ptrdiff_t>(
            {ExecutionContext::SHORT_STEPS_PER_CHECK, a_end - a, b_end - b});
        for (std::ptrdiff_t step = 0; step < steps; ++step, ++out) {
            if (weight_less(*b, *a)) {
                *out = *b;
                ++b;
            } else {
                *out = *a;
                ++a;
            }
        }
    }
    return std::copy(b, b_end, std::copy(a, a_end, out));
}

// Merges neighbouring runs pairwise until one is left.
std::vector<MstEdge> merge_runs(std::vector<MstEdge> merged, std::vector<std::size_t> starts,
                                const ExecutionContext& context) {
    const std::size_t size = merged.size();
    starts.push_back(size);
    std::vector<MstEdge> buffer(starts.size() > 2 ? size : 0);
    while (starts.size() > 2) {
        std::vector<std::size_t> next;
        auto out = buffer.begin();
        for (std::size_t r = 0; r + 1 < starts.size(); r += 2) {
            next.push_back(static_cast<std::size_t>(out - buffer.begin()));
            const auto first = merged.begin() + static_cast<std::ptrdiff_t>(starts[r]);
            const auto middle = merged.begin() + static_cast<std::ptrdiff_t>(starts[r + 1]);
            const auto last = r + 2 < starts.size()
                                  ? merged.begin() + static_cast<std::ptrdiff_t>(starts[r + 2])
                                  : middle;
            out = merge_by_weight(first, middle, middle, last, out, context);
        }
        next.push_back(size);
        merged.swap(buffer);
        starts = std::move(next);
    }
    return merged;
}

std::vector<MstEdge> radix_sorted(std::span<const MstEdge> edges, const ExecutionContext& context) {
    std::vector<KeyedEdge> keyed(edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i)
        keyed[i] = {weight_key(edges[i].weight), i};
    radix_sort(keyed, context);
    std::vector<MstEdge> sorted;
    sorted.reserve(edges.size());
    for_each_checked(context, 0, keyed.size(),
                     [&](std::size_t i) { sorted.push_back(edges[keyed[i].index]); });
    return sorted;
}

}  // namespace

std::vector<MstEdge> sorted_edges(std::span<const MstEdge> edges, const ExecutionContext& context) {
    return sorted_edges(std::vector<MstEdge>(edges.begin(), edges.end()), context);
}

std::vector<MstEdge> sorted_edges(std::vector<MstEdge>&& edges, const ExecutionContext& context) {
    if (edges.empty()) return {};
    // Edges that arrive as a few sorted batches (as Boruvka emits them) are
    // merged, which reads memory in order; anything else is radix sorted.
    constexpr std::size_t max_runs = 64;
    std::vector<std::size_t> starts = sorted_run_starts(edges, max_runs, context);
    std::vector<MstEdge> sorted = starts.empty()
                                      ? radix_sorted(edges, context)
                                      : merge_runs(std::move(edges), std::move(starts), context);
    std::vector<MstEdge>().swap(edges);

    // Equal weights: by endpoints, run by run.
    std::size_t next_check = ExecutionContext::SHORT_STEPS_PER_CHECK;
    for (std::size_t start = 0; start < sorted.size();) {
        std::size_t end = start + 1;
        while (end < sorted.size() && !weight_less(sorted[start], sorted[end]))
            ++end;
        if (end >= next_check) {
            context.check();
            next_check = end + ExecutionContext::SHORT_STEPS_PER_CHECK;
        }
        if (end - start > 1) {
            checked_sort(context, sorted.begin() + static_cast<std::ptrdiff_t>(start),
                         sorted.begin() + static_cast<std::ptrdiff_t>(end), endpoints_less);
        }
        start = end;
    }
    return sorted;
}

bool merge_order_less(const MstEdge& x, const MstEdge& y) {
    if (weight_less(x, y)) return true;
    return !weight_less(y, x) && endpoints_less(x, y);
}

}  // namespace corvane
