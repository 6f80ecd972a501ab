#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <iterator>

#include "parallel/execution_context.hpp"

namespace corvane {

namespace checked_sort_detail {

// Ranges up to this size go to std::sort in one piece: a few milliseconds at most.
inline constexpr std::ptrdiff_t PIECE = std::ptrdiff_t{1} << 16;

// Swaps the median of *a, *b and *c into *result.
template <class Iterator, class Less>
void move_median_to(Iterator result, Iterator a, Iterator b, Iterator c, Less& less) {
    if (less(*a, *b)) {
        if (less(*b, *c)) {
            std::iter_swap(result, b);
        } else if (less(*a, *c)) {
            std::iter_swap(result, c);
        } else {
            std::iter_swap(result, a);
        }
    } else if (less(*a, *c)) {
        std::iter_swap(result, a);
    } else if (less(*b, *c)) {
        std::iter_swap(result, c);
    } else {
        std::iter_swap(result, b);
    }
}

// Partitions [first + 1, last) around the median of three moved to *first and returns
// the cut: nothing before it is greater than the pivot, nothing from it on is smaller.
// The pivot at *first and the largest of the three stop the scans without bounds checks.
// These are the very steps of libstdc++'s introsort and introselect, so a selection made
// of them leaves the elements in the order std::nth_element leaves them.
template <class Iterator, class Less>
Iterator partition_around_median(const ExecutionContext& context, Iterator first, Iterator last,
                                 Less& less) {
    move_median_to(first, first + 1, first + (last - first) / 2, last - 1, less);
    Iterator low = first + 1;
    Iterator high = last;
    for (std::size_t swaps = 1;; ++swaps) {
        while (less(*low, *first))
            ++low;
        --high;
        while (less(*first, *high))
            --high;
        if (!(low < high)) return low;
        std::iter_swap(low, high);
        ++low;
        context.check_every(swaps);
    }
}

template <class Iterator, class Less>
void sort_range(const ExecutionContext& context, Iterator first, Iterator last, Less& less,
                int depth) {
    while (last - first > PIECE) {
        if (depth-- == 0) break;
        context.check();
        const Iterator cut = partition_around_median(context, first, last, less);
        // The smaller side recursively, the larger one in this loop: the stack stays
        // logarithmic.
        if (cut - first < last - cut) {
            sort_range(context, first, cut, less, depth);
            first = cut;
        } else {
            sort_range(context, cut, last, less, depth);
            last = cut;
        }
    }
    context.check();
    std::sort(first, last, less);
}

}  // namespace checked_sort_detail

// std::nth_element with interruption checks: while the range that holds `nth` is large it
// is narrowed by the same partition steps as std::nth_element takes, then std::nth_element
// finishes it. The result is that of std::nth_element (of libstdc++), unless its
// depth limit would have cut in, which only contrived inputs reach.
template <class Iterator, class Less>
void checked_nth_element(const ExecutionContext& context, Iterator first, Iterator nth,
                         Iterator last, Less less) {
    while (last - first > checked_sort_detail::PIECE) {
        context.check();
        const Iterator cut =
            checked_sort_detail::partition_around_median(context, first, last, less);
        if (cut <= nth) {
            first = cut;
        } else {
            last = cut;
        }
    }
    context.check();
    std::nth_element(first, nth, last, less);
}

// Sorts [first, last) by `less` like std::sort, checking `context` for interruption at
// least every few milliseconds: large ranges are partitioned around medians of three
// until their pieces are small enough for std::sort. As with std::sort the order of
// equivalent elements is unspecified; with distinct keys the result is the one sorted
// order, bit for bit that of std::sort. Ranges short enough for std::sort in one piece
// go to it without a check, so that sorting many short ranges costs what std::sort does.
template <class Iterator, class Less>
void checked_sort(const ExecutionContext& context, Iterator first, Iterator last, Less less) {
    if (last - first <= checked_sort_detail::PIECE) {
        std::sort(first, last, less);
        return;
    }
    const auto size = static_cast<std::size_t>(last - first);
    checked_sort_detail::sort_range(context, first, last, less,
                                    2 * static_cast<int>(std::bit_width(size)));
}

}  // namespace corvane
