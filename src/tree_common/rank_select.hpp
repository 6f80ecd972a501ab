#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <span>

#include "common/internal_error.hpp"
#include "parallel/checked_sort.hpp"
#include "parallel/execution_context.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

// Keys of one part of a range below and equal to a selected value.
struct RankTally {
    std::size_t less = 0;
    std::size_t equal = 0;
};

namespace rank_select_detail {

// Ranges up to this many keys are selected from a full copy: a sample would cost about
// as much as it saves.
inline constexpr std::size_t DIRECT_KEYS = 512;

// Position of the i-th sample: one position drawn by a fixed hash from each of the
// `sample` blocks of `block` keys, so that neither sorted nor periodic orders bias it.
inline std::size_t sample_position(std::size_t i, std::size_t block) {
    const std::uint64_t h = (static_cast<std::uint64_t>(i) + 1) * 0x9E3779B97F4A7C15ULL;
    return i * block + static_cast<std::size_t>((h >> 32) % block);
}

typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
typedef std::int64_t PairCount __attribute__((vector_size(2 * sizeof(std::int64_t))));

// The keys of keys[0, count) below and equal to `value`, two at a time: a comparison of
// pairs gives -1 in the lanes where it holds.
inline RankTally tally(const double* keys, std::size_t count, double value,
                       const ExecutionContext& context) {
    PairCount less{};
    PairCount equal{};
    const Pair pivot{value, value};
    const std::size_t pairs = count / 2;
    for_each_checked(context, 0, pairs, [&](std::size_t i) {
        Pair k;
        std::memcpy(&k, keys + 2 * i, sizeof(Pair));
        less -= k < pivot;
        equal -= k == pivot;
    });
    RankTally out{static_cast<std::size_t>(less[0] + less[1]),
                  static_cast<std::size_t>(equal[0] + equal[1])};
    if (count % 2 != 0) {
        out.less += keys[count - 1] < value ? 1 : 0;
        out.equal += keys[count - 1] == value ? 1 : 0;
    }
    return out;
}

// Moves the value of rank k (from 0) of keys[0, n) to keys[k], with no greater value
// before it and no smaller one after it, and returns it. Quickselect with the median of
// three as pivot and Lomuto's partition written without a branch on the keys: on random
// keys a branch on each comparison is mispredicted half the time, which costs more than
// the comparisons. A pivot that is the smallest key of its range is then split off with
// all keys equal to it, so that ties cannot stall the selection. Orders that keep
// defeating the median of three would make the steps quadratic: after as many steps as
// introselect allows, std::nth_element finishes the range. The value of rank k is the
// same whichever selection finds it.
inline double select_in_place(double* keys, std::size_t n, std::size_t k,
                              const ExecutionContext& context) {
    std::size_t lo = 0;
    std::size_t hi = n;
    std::size_t steps_left = 2 * static_cast<std::size_t>(std::bit_width(n));
    // Moves the keys of [from, hi) for which below(key) holds to the front; returns the
    // end of them.
    const auto partition = [&](std::size_t from, const auto& below) {
        std::size_t front = from;
        for_each_checked(context, from, hi, [&](std::size_t i) {
            const double x = keys[i];
            keys[i] = keys[front];
            keys[front] = x;
            front += below(x) ? 1 : 0;
        });
        return front;
    };
    while (hi - lo > 8) {
        if (steps_left-- == 0) {
            checked_nth_element(context, keys + lo, keys + k, keys + hi, std::less<double>());
            return keys[k];
        }
        const double a = keys[lo];
        const double b = keys[lo + (hi - lo) / 2];
        const double c = keys[hi - 1];
        const double pivot = std::max(std::min(a, b), std::min(std::max(a, b), c));
        const std::size_t cut = partition(lo, [pivot](double x) { return x < pivot; });
        if (k < cut) {
            hi = cut;
        } else if (cut > lo) {
            lo = cut;
        } else {
            const std::size_t equal_end = partition(lo, [pivot](double x) { return x <= pivot; });
            // Only a NaN pivot is not even equal to itself.
            if (equal_end == lo) fail_internal("select_rank_value: a key is NaN");
            if (k < equal_end) return keys[k];
            lo = equal_end;
        }
    }
    // Insertion sort of the last few.
    for (std::size_t i = lo + 1; i < hi; ++i) {
        const double x = keys[i];
        std::size_t j = i;
        for (; j > lo && x < keys[j - 1]; --j)
            keys[j] = keys[j - 1];
        keys[j] = x;
    }
    return keys[k];
}

}  // namespace rank_select_detail

// The value v of rank `rank` (from 0, rank < count) among the keys key(0), ...,
// key(count - 1), and for every part p, the keys key(i) with i in
// [bounds[p], bounds[p + 1]), the number below v and equal to v (into tallies[p]), by
// the comparisons k < v and k == v. v is the one value of that rank and the tallies are
// counts, so neither depends on the order in which anything is visited; the parts only
// cut the passes over the keys, and in_parts(step) may run step(p) for all parts at once.
// Keys are never NaN in a tree build; where one is, the selection throws InternalError or
// returns a value that is not NaN, with tallies that are still those counts.
//
// Floyd and Rivest's selection: a sample of the keys gives two values that bracket v
// with high probability; one pass counts the keys below the lower one and keeps those
// between the two, from which v and the tallies follow. When the bracket misses v, v is
// selected from a copy of every key. `bucket` and `work` hold `count` values each; the
// keys that part p keeps go to bucket[bounds[p], bounds[p + 1]).
template <class Key, class InParts>
double select_rank_value(std::size_t count, std::size_t rank, const Key& key,
                         std::span<const std::size_t> bounds, std::span<RankTally> tallies,
                         double* bucket, double* work, const InParts& in_parts,
                         const ExecutionContext& context) {
    constexpr double INF = std::numeric_limits<double>::infinity();
    const std::size_t parts = tallies.size();
    const auto select_in = [&](std::size_t size, std::size_t at) {
        const double value = rank_select_detail::select_in_place(work, size, at, context);
        if (!(value == value)) fail_internal("select_rank_value: a key is NaN");
        return value;
    };
    const auto from_full_copy = [&] {
        for_each_checked(context, 0, count, [&](std::size_t i) { work[i] = key(i); });
        const double value = select_in(count, rank);
        if (parts == 1) {
            tallies[0] = rank_select_detail::tally(work, count, value, context);
            return value;
        }
        // The selection reordered `work`; each part's keys are tallied from a copy.
        in_parts([&](std::size_t p) {
            for_each_checked(context, bounds[p], bounds[p + 1],
                             [&](std::size_t i) { bucket[i] = key(i); });
            tallies[p] = rank_select_detail::tally(bucket + bounds[p], bounds[p + 1] - bounds[p],
                                                   value, context);
        });
        return value;
    };
    if (count <= rank_select_detail::DIRECT_KEYS) return from_full_copy();

    // A sample of about count^(2/3) keys; the bracket reaches four standard deviations
    // of the sampled rank of v (at most sqrt(sample) / 2) to either side.
    const double size = static_cast<double>(count);
    const std::size_t sample =
        std::min(count / 4, static_cast<std::size_t>(std::cbrt(size * size)));
    const std::size_t block = count / sample;
    for (std::size_t i = 0; i < sample; ++i)
        work[i] = key(rank_select_detail::sample_position(i, block));
    const auto gap = static_cast<std::size_t>(2.0 * std::sqrt(static_cast<double>(sample))) + 1;
    const auto centre =
        static_cast<std::size_t>(static_cast<double>(rank) / size * static_cast<double>(sample));
    double lower = -INF;
    double upper = INF;
    std::size_t above_lower = 0;
    if (centre >= gap) {
        lower = rank_select_detail::select_in_place(work, sample, centre - gap, context);
        above_lower = centre - gap + 1;
    }
    if (centre + gap < sample) {
        upper = rank_select_detail::select_in_place(work + above_lower, sample - above_lower,
                                                    centre + gap - above_lower, context);
    }

    // Until v is known, tallies[p] holds the keys of part p below the bracket and the
    // number it kept. Every key is written to the next free slot and the slot advances
    // only for keys inside the bracket, so that the pass does not branch on the keys.
    in_parts([&](std::size_t p) {
        std::size_t below = 0;
        std::size_t kept = 0;
        double* out = bucket + bounds[p];
        for_each_checked(context, bounds[p], bounds[p + 1], [&](std::size_t i) {
            const double k = key(i);
            const bool is_below = k < lower;
            out[kept] = k;
            below += is_below ? 1 : 0;
            kept += is_below || k > upper ? 0 : 1;
        });
        tallies[p] = {below, kept};
    });
    std::size_t below_all = 0;
    std::size_t kept_all = 0;
    for (const RankTally& t : tallies) {
        below_all += t.less;
        kept_all += t.equal;
    }
    if (rank < below_all || rank >= below_all + kept_all) return from_full_copy();

    // A key below the bracket is below v (v >= lower), one above it is above v.
    kept_all = 0;
    for (std::size_t p = 0; p < parts; ++p) {
        std::copy(bucket + bounds[p], bucket + bounds[p] + tallies[p].equal, work + kept_all);
        kept_all += tallies[p].equal;
    }
    const double value = select_in(kept_all, rank - below_all);
    for (std::size_t p = 0; p < parts; ++p) {
        const RankTally kept =
            rank_select_detail::tally(bucket + bounds[p], tallies[p].equal, value, context);
        tallies[p] = {tallies[p].less + kept.less, kept.equal};
    }
    return value;
}

}  // namespace corvane
