#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

namespace corvane {

// A row of a node's range with its split key; `offset` counts from the range start.
struct KeyedRow {
    double key;
    std::size_t offset;
};

// Moves the keyed row of rank `mid` (from 0, by key) to keyed[mid], with no greater key
// before it and no smaller key after it. std::nth_element performs a fixed sequence of
// comparisons and swaps for a given input, so the order it leaves is deterministic.
inline void select_median(std::span<KeyedRow> keyed, std::size_t mid) {
    std::nth_element(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(mid), keyed.end(),
                     [](const KeyedRow& a, const KeyedRow& b) { return a.key < b.key; });
}

// Scratch of one tree build, sized for the root range and reused by every node.
struct PartitionScratch {
    std::vector<KeyedRow> keyed;
    std::vector<double> rows;
    std::vector<std::size_t> indices;

    PartitionScratch(std::size_t n, std::size_t dims) : keyed(n), rows(n * dims), indices(n) {}
};

// Rearranges the range [start, start + keyed.size()) of the tree-ordered rows and of
// `indices` into the order of `keyed`: position start + t receives the row that was at
// start + keyed[t].offset. `visit(t, row)` sees every row at its new offset, in order,
// so that callers can gather per-child statistics in the same pass.
template <class Visit>
void reorder_rows(std::span<const KeyedRow> keyed, std::vector<double>& rows,
                  std::vector<std::size_t>& indices, std::size_t dims, std::size_t start,
                  PartitionScratch& scratch, Visit&& visit) {
    const std::size_t count = keyed.size();
    const double* src = rows.data() + start * dims;
    const std::size_t* src_index = indices.data() + start;
    double* out = scratch.rows.data();
    for (std::size_t t = 0; t < count; ++t) {
        const std::size_t from = keyed[t].offset;
        const double* row = src + from * dims;
        double* dest = out + t * dims;
        for (std::size_t j = 0; j < dims; ++j)
            dest[j] = row[j];
        scratch.indices[t] = src_index[from];
        visit(t, dest);
    }
    if (count * dims > 0) {
        std::memcpy(rows.data() + start * dims, out, count * dims * sizeof(double));
    }
    std::memcpy(indices.data() + start, scratch.indices.data(), count * sizeof(std::size_t));
}

}  // namespace corvane
