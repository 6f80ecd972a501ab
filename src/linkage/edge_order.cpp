#include "linkage/edge_order.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "parallel/checked_sort.hpp"
#include "parallel/page_faults.hpp"
#include "parallel/parallel.hpp"

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

// The order of weight_key without computing the keys: numbers compare as numbers (-0
// equals +0) and come before NaN.
bool weight_less(const MstEdge& x, const MstEdge& y) {
    return x.weight < y.weight || (std::isnan(y.weight) && !std::isnan(x.weight));
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

// How many edges of x come first among the first `k` of the merge of x and y by weight,
// ties going to x as in merge_by_weight: the output of such a merge can be cut at any k
// and its pieces merged apart.
std::size_t merge_split(std::span<const MstEdge> x, std::span<const MstEdge> y, std::size_t k) {
    std::size_t low = k > y.size() ? k - y.size() : 0;
    std::size_t high = std::min(k, x.size());
    while (low < high) {
        const std::size_t i = low + (high - low) / 2;
        if (!weight_less(y[k - i - 1], x[i])) {
            low = i + 1;
        } else {
            high = i;
        }
    }
    return low;
}

// One piece of a merge: x with y into out, by weight.
struct MergePiece {
    std::span<const MstEdge> x, y;
    MstEdge* out;
};

// Cuts the merge of x and y into out into `cuts` pieces of equal output.
void cut_merge(std::span<const MstEdge> x, std::span<const MstEdge> y, MstEdge* out,
               std::size_t cuts, std::vector<MergePiece>& pieces) {
    const std::size_t length = x.size() + y.size();
    std::size_t x_at = 0;
    for (std::size_t c = 1; c <= cuts; ++c) {
        const std::size_t k = length * c / cuts;
        const std::size_t x_to = c == cuts ? x.size() : merge_split(x, y, k);
        const std::size_t from = length * (c - 1) / cuts;
        pieces.push_back({x.subspan(x_at, x_to - x_at),
                          y.subspan(from - x_at, k - x_to - (from - x_at)), out + from});
        x_at = x_to;
    }
}

// How many pieces a merge of `length` edges is cut into: one per thread.
std::size_t merge_cuts(std::size_t length, const ExecutionContext& context) {
    return length < PARALLEL_MIN_SHORT_STEPS ? 1 : std::max<std::size_t>(context.threads(), 1);
}

// Merges every piece, the threads taking them in turn; each piece is the part of the one
// merge it was cut from, so the result does not depend on them.
void merge_pieces(const std::vector<MergePiece>& pieces, const ExecutionContext& context) {
    const auto merge_piece = [&](std::size_t, std::size_t p) {
        const MergePiece& piece = pieces[p];
        merge_by_weight(piece.x.begin(), piece.x.end(), piece.y.begin(), piece.y.end(), piece.out,
                        context);
    };
    if (pieces.size() > 1 && context.threads() > 1) {
        run_task_queue(context, context.threads(), pieces.size(), merge_piece);
    } else {
        for (std::size_t p = 0; p < pieces.size(); ++p)
            merge_piece(0, p);
    }
}

std::vector<MstEdge> merge_runs(std::vector<MstEdge> merged, std::vector<std::size_t> starts,
                                const ExecutionContext& context);

// Merges the runs other than `largest` apart, then with it in one pass: the largest run is
// read once rather than at every level. `bounds` are the runs' starts and the end.
std::vector<MstEdge> merge_into_largest(const std::vector<MstEdge>& merged,
                                        const std::vector<std::size_t>& bounds, std::size_t largest,
                                        const ExecutionContext& context) {
    const std::size_t begin = bounds[largest];
    const std::size_t length = bounds[largest + 1] - begin;
    const auto at = [&](std::size_t i) { return merged.begin() + static_cast<std::ptrdiff_t>(i); };
    std::vector<MstEdge> rest;
    rest.reserve(merged.size() - length);
    rest.insert(rest.end(), merged.begin(), at(begin));
    rest.insert(rest.end(), at(begin + length), merged.end());
    std::vector<std::size_t> rest_starts;
    for (std::size_t r = 0; r + 1 < bounds.size(); ++r) {
        if (r != largest) rest_starts.push_back(r < largest ? bounds[r] : bounds[r] - length);
    }
    rest = merge_runs(std::move(rest), std::move(rest_starts), context);
    std::vector<MstEdge> out;
    assign_faulted_in(context, out, merged.size(), MstEdge{});
    std::vector<MergePiece> pieces;
    cut_merge(std::span<const MstEdge>(merged.data() + begin, length), rest, out.data(),
              merge_cuts(merged.size(), context), pieces);
    merge_pieces(pieces, context);
    return out;
}

// Merges the runs until one is left: neighbouring runs pairwise, or, when one run holds
// three quarters of the edges or more (Boruvka's first batch), the others first and then
// that one; the others' copy then takes at most a quarter of the edges' memory more.
std::vector<MstEdge> merge_runs(std::vector<MstEdge> merged, std::vector<std::size_t> starts,
                                const ExecutionContext& context) {
    const std::size_t size = merged.size();
    starts.push_back(size);
    std::size_t largest = 0;
    for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
        if (starts[r + 1] - starts[r] > starts[largest + 1] - starts[largest]) largest = r;
    }
    if (starts.size() > 3 && 4 * (starts[largest + 1] - starts[largest]) >= 3 * size) {
        return merge_into_largest(merged, starts, largest, context);
    }
    std::vector<MstEdge> buffer;
    assign_faulted_in(context, buffer, starts.size() > 2 ? size : 0, MstEdge{});
    while (starts.size() > 2) {
        std::vector<std::size_t> next;
        std::vector<MergePiece> pieces;
        for (std::size_t r = 0; r + 1 < starts.size(); r += 2) {
            next.push_back(starts[r]);
            const std::size_t middle = starts[r + 1];
            const std::size_t last = r + 2 < starts.size() ? starts[r + 2] : middle;
            const std::span<const MstEdge> x(merged.data() + starts[r], middle - starts[r]);
            const std::span<const MstEdge> y(merged.data() + middle, last - middle);
            cut_merge(x, y, buffer.data() + starts[r], merge_cuts(last - starts[r], context),
                      pieces);
        }
        next.push_back(size);
        merge_pieces(pieces, context);
        merged.swap(buffer);
        starts = std::move(next);
    }
    return merged;
}

// Sorts by endpoints the runs of equal weights in [begin, end), which starts and ends
// between runs.
void sort_runs_by_endpoints(std::vector<MstEdge>& sorted, std::size_t begin, std::size_t end,
                            const ExecutionContext& context) {
    const auto at = [&](std::size_t i) { return sorted.begin() + static_cast<std::ptrdiff_t>(i); };
    std::size_t next_check = begin + ExecutionContext::SHORT_STEPS_PER_CHECK;
    for (std::size_t start = begin; start < end;) {
        std::size_t stop = start + 1;
        while (stop < end && !weight_less(sorted[start], sorted[stop]))
            ++stop;
        if (stop >= next_check) {
            context.check();
            next_check = stop + ExecutionContext::SHORT_STEPS_PER_CHECK;
        }
        if (stop - start > 1) checked_sort(context, at(start), at(stop), endpoints_less);
        start = stop;
    }
}

// Sorts every run of equal weights by endpoints. Threads take stretches of equal length
// moved on to the next run's start, found before any run is sorted, so that no thread
// reads a run that another one sorts.
void sort_equal_weights(std::vector<MstEdge>& sorted, const ExecutionContext& context) {
    const std::size_t size = sorted.size();
    const std::size_t threads = size < PARALLEL_MIN_SHORT_STEPS ? 1 : context.threads();
    std::vector<std::size_t> bounds{0};
    for (std::size_t t = 1; t < threads; ++t) {
        std::size_t bound = std::max(bounds.back(), size * t / threads);
        while (bound < size && bound > 0 && !weight_less(sorted[bound - 1], sorted[bound])) {
            context.check_every(++bound);
        }
        bounds.push_back(bound);
    }
    bounds.push_back(size);
    if (threads < 2) {
        sort_runs_by_endpoints(sorted, 0, size, context);
        return;
    }
    run_tasks(context, threads, [&](std::size_t t) {
        sort_runs_by_endpoints(sorted, bounds[t], bounds[t + 1], context);
    });
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

    sort_equal_weights(sorted, context);
    return sorted;
}

bool merge_order_less(const MstEdge& x, const MstEdge& y) {
    if (weight_less(x, y)) return true;
    return !weight_less(y, x) && endpoints_less(x, y);
}

}  // namespace corvane
