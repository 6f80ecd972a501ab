#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "distance/euclidean/squared_distance.hpp"
#include "parallel/checked_sort.hpp"

namespace corvane {

// The tree builders check for interruption before they split a range of at least this
// many rows; a smaller subtree takes well under a millisecond.
inline constexpr std::size_t TREE_CHECK_ROWS = 2048;

// A row of a node's range with its split key; `offset` counts from the range start.
struct KeyedRow {
    double key;
    std::size_t offset;
};

// Moves the keyed row of rank `mid` (from 0, by key) to keyed[mid], with no greater key
// before it and no smaller key after it. std::nth_element performs a fixed sequence of
// comparisons and swaps for a given input, so the order it leaves is deterministic; the
// checked form takes the same steps.
inline void select_median(std::span<KeyedRow> keyed, std::size_t mid,
                          const ExecutionContext& context) {
    checked_nth_element(context, keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(mid),
                        keyed.end(),
                        [](const KeyedRow& a, const KeyedRow& b) { return a.key < b.key; });
}

// Scratch of one tree build, one slot per tree position: the node over positions
// [start, end) uses slots [start, end) of every array, so the builds of disjoint subtrees
// can share it. Left uninitialised, as every slot is written before it is read; pages are
// then first touched by whichever thread builds that part of the tree.
struct PartitionScratch {
    std::unique_ptr<KeyedRow[]> keyed;
    std::unique_ptr<double[]> rows;
    std::unique_ptr<std::size_t[]> indices;

    PartitionScratch(std::size_t n, std::size_t dims)
        : keyed(new KeyedRow[n]), rows(new double[n * dims]), indices(new std::size_t[n]) {}

    std::span<KeyedRow> keyed_range(std::size_t start, std::size_t count) {
        return {keyed.get() + start, count};
    }
};

// Rearranging the range [start, start + keyed.size()) of the tree-ordered rows and of
// `indices` into the order of `keyed` (position start + t receives the row that was at
// start + keyed[t].offset) takes two steps, each over any part [first, last) of the
// offsets t: gather_rows copies the rows into the scratch in their new order, and
// put_back_rows copies them back. Several threads may gather disjoint parts at once, and
// then put back disjoint parts, but no part may be put back while another is gathered.
//
// `visit(t, row)` sees every gathered row at its new offset, in order within the part, so
// that callers can gather per-child statistics in the same pass. `Dims` fixes the column
// count at compile time (DYNAMIC_DIMS: `dims`).
template <std::size_t Dims = DYNAMIC_DIMS, class Visit>
void gather_rows(std::span<const KeyedRow> keyed, const std::vector<double>& rows,
                 const std::vector<std::size_t>& indices, std::size_t dims, std::size_t start,
                 std::size_t first, std::size_t last, PartitionScratch& scratch,
                 const ExecutionContext& context, Visit&& visit) {
    const double* src = rows.data() + start * dims;
    const std::size_t* src_index = indices.data() + start;
    double* out = scratch.rows.get() + start * dims;
    std::size_t* out_index = scratch.indices.get() + start;
    for (std::size_t t = first; t < last; ++t) {
        context.check_every(t);
        const std::size_t from = keyed[t].offset;
        const double* row = src + from * dims;
        double* dest = out + t * dims;
        for (std::size_t j = 0; j < (Dims == DYNAMIC_DIMS ? dims : Dims); ++j)
            dest[j] = row[j];
        out_index[t] = src_index[from];
        visit(t, dest);
    }
}

inline void put_back_rows(std::vector<double>& rows, std::vector<std::size_t>& indices,
                          std::size_t dims, std::size_t start, std::size_t first, std::size_t last,
                          const PartitionScratch& scratch) {
    if (last <= first) return;
    const std::size_t from = start + first;
    if (dims > 0) {
        std::memcpy(rows.data() + from * dims, scratch.rows.get() + from * dims,
                    (last - first) * dims * sizeof(double));
    }
    std::memcpy(indices.data() + from, scratch.indices.get() + from,
                (last - first) * sizeof(std::size_t));
}

// Both steps over the whole range on the calling thread.
template <class Visit>
void reorder_rows(std::span<const KeyedRow> keyed, std::vector<double>& rows,
                  std::vector<std::size_t>& indices, std::size_t dims, std::size_t start,
                  PartitionScratch& scratch, const ExecutionContext& context, Visit&& visit) {
    gather_rows(keyed, rows, indices, dims, start, 0, keyed.size(), scratch, context, visit);
    put_back_rows(rows, indices, dims, start, 0, keyed.size(), scratch);
}

}  // namespace corvane
