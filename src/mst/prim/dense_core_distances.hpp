#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "common/data_matrix.hpp"
#include "distance/distance_order.hpp"
#include "parallel/lockstep.hpp"
#include "parallel/parallel.hpp"

namespace corvane::prim_detail {

// Brute-force core distances for the dense Prim route: the k-th smallest
// entry of each row of the distance matrix, the row's own entry included,
// without ever storing the matrix.

struct Ranked {
    double distance;
    std::size_t index;
};

// The order of a fully sorted row: by distance with NaN last, then by index.
// It is total, so the k-th smallest entry under it is exactly the element a
// full sort would put at position k - 1, signed zeros and NaNs included, and
// the set of the k smallest does not depend on the order entries are seen
// in. A function object, so that the heap operations inline it.
struct RankedLess {
    bool operator()(const Ranked& a, const Ranked& b) const {
        if (distance_less(a.distance, b.distance)) return true;
        if (distance_less(b.distance, a.distance)) return false;
        return a.index < b.index;
    }
};

// Replaces the root of a max-heap under RankedLess and restores the heap.
inline void replace_root(std::span<Ranked> heap, Ranked entry) {
    const std::size_t size = heap.size();
    std::size_t hole = 0;
    for (std::size_t child = 1; child < size; child = 2 * hole + 1) {
        if (child + 1 < size && RankedLess{}(heap[child], heap[child + 1])) ++child;
        if (!RankedLess{}(entry, heap[child])) break;
        heap[hole] = heap[child];
        hole = child;
    }
    heap[hole] = entry;
}

// The heap selection beats selecting in the whole row while k is at most
// 1 / HEAP_SHARE of the row (measured on rows of 5000 uniform values).
inline constexpr std::size_t HEAP_SHARE = 16;

// Core distances of `rows`, distance(i, j) giving the entry for column j.
// For small k a max-heap keeps the k smallest entries seen so far; columns
// arrive in ascending order, so an entry that only ties the root's distance
// ranks after the root, and the distance test alone decides whether it
// enters. Once the heap would be a sizeable share of the row, selecting in a
// copy of the whole row is faster. Either way the scratch is at most one row.
template <class RowEntry>
void core_distances_of_rows(std::size_t n, std::size_t k, RowChunk rows, const RowEntry& distance,
                            std::span<double> core) {
    if (k * HEAP_SHARE > n) {
        std::vector<Ranked> row(n);
        for (std::size_t i = rows.start; i < rows.end; ++i) {
            for (std::size_t j = 0; j < n; ++j)
                row[j] = {distance(i, j), j};
            const auto kth = row.begin() + static_cast<std::ptrdiff_t>(k - 1);
            std::nth_element(row.begin(), kth, row.end(), RankedLess{});
            core[i] = kth->distance;
        }
        return;
    }
    std::vector<Ranked> heap(k);
    for (std::size_t i = rows.start; i < rows.end; ++i) {
        for (std::size_t j = 0; j < k; ++j)
            heap[j] = {distance(i, j), j};
        std::make_heap(heap.begin(), heap.end(), RankedLess{});
        double root = heap.front().distance;
        for (std::size_t j = k; j < n; ++j) {
            const double d = distance(i, j);
            if (distance_less(d, root)) {
                replace_root(heap, {d, j});
                root = heap.front().distance;
            }
        }
        core[i] = root;
    }
}

// Row by row over up to context.threads() threads; rows are independent.
template <class RowEntry>
void row_core_distances(std::size_t n, std::size_t k, const ExecutionContext& context,
                        const RowEntry& distance, std::span<double> core) {
    for_each_row_chunk(context, n,
                       [&](RowChunk rows) { core_distances_of_rows(n, k, rows, distance, core); });
}

// Up to this k the pairwise form below keeps k heap entries for every row at
// once: 16 bytes per entry, so at most 256 bytes per row.
inline constexpr std::size_t PAIRWISE_MAX_K = 16;

// Core distances for a metric whose kernel is exactly symmetric (kernel(a, b)
// and kernel(b, a) the same bits): each pair is evaluated once and offered to
// the heaps of both its rows, so every row keeps its heap to the end. The
// rows are cut into blocks of TILE; a tile pairs two blocks (or a block with
// itself), and the tiles run in rounds in which no two tiles share a block
// (the circle method of round-robin scheduling), so that the workers of a
// round never touch the same heap. The k smallest entries under RankedLess do
// not depend on the order they arrive in, so neither does the result on the
// number of workers.
template <class Kernel>
void pairwise_core_distances(const DataMatrix& data, std::size_t k, const Kernel& kernel,
                             const ExecutionContext& context, std::span<double> core) {
    constexpr std::size_t TILE = 256;
    const std::size_t n = data.rows;
    const std::size_t blocks = (n + TILE - 1) / TILE;
    // An odd count gets an empty block to pair with, so every round is a
    // perfect matching; one more round takes the tiles within a block.
    const std::size_t slots = blocks + blocks % 2;
    const std::size_t rounds = slots;
    // Every heap starts full of the greatest entry under RankedLess; each of
    // the n >= k entries of the row displaces one, so none is left at the end.
    std::vector<Ranked> heaps(
        n * k, {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<std::size_t>::max()});

    const auto offer = [&](std::size_t row, Ranked entry) {
        Ranked* heap = heaps.data() + row * k;
        if (entry.distance > heap->distance) return;  // the common rejection, decided at once
        if (RankedLess{}(entry, *heap)) replace_root({heap, k}, entry);
    };
    const auto rows_of = [&](std::size_t block) {
        return RowChunk{block * TILE, std::min(n, (block + 1) * TILE)};
    };
    const auto tile = [&](std::size_t a, std::size_t b) {
        context.check();
        const RowChunk rows = rows_of(a);
        const RowChunk columns = rows_of(b);
        for (std::size_t i = rows.start; i < rows.end; ++i) {
            const auto row_i = data.row_span(i);
            std::size_t j = columns.start;
            if (a == b) {
                offer(i, {0.0, i});
                j = i + 1;
            }
            for (; j < columns.end; ++j) {
                const double d = kernel(row_i, data.row_span(j));
                offer(i, {d, j});
                offer(j, {d, i});
            }
        }
    };

    const std::size_t threads = context.threads();
    const std::size_t workers =
        threads >= 2 && n >= PARALLEL_MIN_ROWS ? std::min(threads, slots / 2) : 1;
    std::size_t round = 0;
    run_lockstep(
        context, workers,
        [&](std::size_t w) {
            if (round + 1 == rounds) {
                for (std::size_t block = w; block < blocks; block += workers)
                    tile(block, block);
                return;
            }
            // Pair t of the round: the last slot stays put, the others rotate.
            const std::size_t cycle = slots - 1;
            for (std::size_t t = w; t < slots / 2; t += workers) {
                std::size_t a = t == 0 ? cycle : (round + t) % cycle;
                std::size_t b = t == 0 ? round : (round + cycle - t) % cycle;
                if (a > b) std::swap(a, b);
                if (b < blocks) tile(a, b);
            }
        },
        [&] { return ++round < rounds; });

    for (std::size_t i = 0; i < n; ++i)
        core[i] = heaps[i * k].distance;
}

}  // namespace corvane::prim_detail
