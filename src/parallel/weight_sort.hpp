#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "parallel/checked_sort.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

namespace weight_sort_detail {

// Ranges shorter than this are sorted by comparisons: the buckets would cost more than
// they save.
inline constexpr std::size_t MIN_BUCKETED = 64;

// Bits of the weight told apart per pass: 256 buckets, whose next free slots stay in the
// first-level cache while a pass moves the elements.
inline constexpr int BUCKET_BITS = 8;

// The bit pattern of a non-negative weight as an unsigned integer; + 0.0 turns -0.0 into
// +0.0, the least of all.
inline std::uint64_t weight_bits(double weight) {
    return std::bit_cast<std::uint64_t>(weight + 0.0);
}

// One pass of weight_sort over [first, first + size): the elements go in place into up to
// 256 buckets of consecutive weights, then every bucket is sorted the same way.
template <class Iterator, class Weight, class Less>
void bucket_pass(const ExecutionContext& context, Iterator first, std::size_t size,
                 const Weight& weight, Less& less) {
    if (size < MIN_BUCKETED) {
        std::sort(first, first + size, less);
        return;
    }
    context.check();
    std::uint64_t lowest = ~std::uint64_t{0};
    std::uint64_t highest = 0;
    for (std::size_t i = 0; i < size; ++i) {
        context.check_every(i);
        const std::uint64_t bits = weight_bits(weight(first[i]));
        lowest = std::min(lowest, bits);
        highest = std::max(highest, bits);
    }
    if (lowest == highest) {
        // One weight: the order is the rest of `less`.
        checked_sort(context, first, first + size, less);
        return;
    }
    const int shift = std::max(0, static_cast<int>(std::bit_width(highest - lowest)) - BUCKET_BITS);
    const auto bucket_of = [&](const auto& element) {
        return static_cast<std::size_t>((weight_bits(weight(element)) - lowest) >> shift);
    };
    constexpr std::size_t BUCKETS = std::size_t{1} << BUCKET_BITS;
    // next[b]: the first slot of bucket b not yet holding one of its elements; end[b]: the
    // slot after the bucket.
    std::size_t next[BUCKETS] = {};
    std::size_t end[BUCKETS];
    for (std::size_t i = 0; i < size; ++i) {
        context.check_every(i);
        ++next[bucket_of(first[i])];
    }
    std::size_t start = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        end[b] = start + next[b];
        next[b] = start;
        start = end[b];
    }
    // Cycle leader: an element taken out of an unsettled slot goes to the next free slot of
    // its bucket, displacing the element there, until one belongs where the cycle began.
    std::size_t moves = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        while (next[b] < end[b]) {
            context.check_every(++moves);
            auto value = std::move(first[next[b]]);
            for (std::size_t home = bucket_of(value); home != b; home = bucket_of(value))
                std::swap(value, first[next[home]++]);
            first[next[b]++] = std::move(value);
        }
    }
    start = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        bucket_pass(context, first + start, end[b] - start, weight, less);
        start = end[b];
    }
}

}  // namespace weight_sort_detail

// Sorts [first, last) by `less` like checked_sort, for orders that compare a non-negative
// weight first: `weight(element)` is a double, and `less(a, b)` holds whenever
// weight(a) < weight(b). The elements are distributed in place into buckets of
// consecutive weights, each bucket again into finer ones, until the pieces are small
// enough to sort by `less`. For non-negative doubles the order of the values is the order
// of their bit patterns as unsigned integers, so a bucket takes a subtraction and a shift
// instead of the comparisons of a sort's top levels, whose outcomes no predictor foresees.
// Both zeros fall in the same bucket.
//
// With distinct keys the result is the one sorted order, that of std::sort. A range with a
// weight that is negative, infinite or NaN goes to checked_sort whole. Checks `context`
// for interruption as it goes.
template <class Iterator, class Weight, class Less>
void weight_sort(const ExecutionContext& context, Iterator first, Iterator last,
                 const Weight& weight, Less less) {
    const auto size = static_cast<std::size_t>(last - first);
    for (std::size_t i = 0; i < size; ++i) {
        context.check_every(i);
        const double w = weight(first[i]);
        if (!(w >= 0.0) || std::isinf(w)) {
            checked_sort(context, first, last, less);
            return;
        }
    }
    weight_sort_detail::bucket_pass(context, first, size, weight, less);
}

}  // namespace corvane
