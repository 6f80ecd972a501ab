#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "common/data_matrix.hpp"
#include "knn_heap/knn_heap.hpp"
#include "knn_heap/neighbour_lists.hpp"
#include "parallel/parallel.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

struct CoreDistanceResult {
    // Row i: the Euclidean distance from row i to its k-th nearest row, itself included.
    std::vector<double> core_distances;
    // n x (k - 1), row-major; empty unless neighbour lists were asked for and n is at most
    // NEIGHBOUR_LIST_MAX_ROWS. Row i holds the rows kept by row i's search other than i
    // itself, in an order each route states (the grouped KD search: ascending distance,
    // ties by input row; the others: the heap's array order); when k duplicates of row i
    // filled the heap without row i, only the first k - 1 of them. Named as
    // `neighbor_naming` says: with tree positions, list p is that of the point at position
    // p and names positions.
    std::vector<NeighbourRow> neighbors;
    ListNaming neighbor_naming = ListNaming::input_rows;

    // The lists, taken over.
    NeighbourLists take_neighbors() { return {std::move(neighbors), neighbor_naming}; }
};

// An empty result for n rows, with room for neighbour lists of k - 1 per row when
// `keep_neighbors` and n allows lists, after checking 1 <= k <= n (an internal error naming
// `caller` otherwise). Its memory is first touched on the threads of `context`.
CoreDistanceResult start_core_result(std::size_t n, std::size_t k, bool keep_neighbors,
                                     const char* caller, const ExecutionContext& context);

// Stores row `row`'s result from its finished heap of bound k: `core_distance` (the heap's
// worst entry as a true distance) and, when the result keeps neighbour lists (k - 1 per
// row), the heap's entries other than the row itself in array order.
void record_heap(const KnnHeap& heap, std::size_t row, double core_distance,
                 CoreDistanceResult& result);

// Calls listed(entry) for the entries a neighbour list holds: the first k - 1 of `entries`
// other than the one whose index is `self`.
template <class Listed>
void for_listed_entries(std::span<const KnnEntry> entries, std::size_t k, std::size_t self,
                        const Listed& listed) {
    std::size_t taken = 0;
    for (const KnnEntry& entry : entries) {
        if (taken == k - 1) break;
        if (entry.index != self) {
            listed(entry);
            ++taken;
        }
    }
}

// Writes a neighbour list to `out`: the entries for_listed_entries lists, each named
// name(index).
template <class Name>
void write_neighbour_list(std::span<const KnnEntry> entries, std::size_t k, std::size_t self,
                          const Name& name, NeighbourRow* out) {
    for_listed_entries(entries, k, self, [&](const KnnEntry& entry) {
        *out++ = static_cast<NeighbourRow>(name(entry.index));
    });
}

// Core distances of every row of `matrix` (and optionally its neighbour lists) from a
// k-nearest-neighbour search over `tree`, which must have been built from `matrix`;
// 1 <= k <= n. Rows are spread over the threads of `context`; every row is computed on
// its own from read-only inputs, so the result is bit-identical for any thread count.
//
// `Tree` is a SpatialTree (tree_common/tree_contract.hpp) with an instantiated search_knn;
// instantiated for KdTree and BallTree.
template <SpatialTree Tree>
CoreDistanceResult tree_core_distances(const DataMatrix& matrix, const Tree& tree, std::size_t k,
                                       bool keep_neighbors,
                                       const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
