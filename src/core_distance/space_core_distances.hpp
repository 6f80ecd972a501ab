#pragma once

#include <algorithm>
#include <cstddef>

#include "core_distance/core_distance.hpp"
#include "knn_heap/knn_heap.hpp"
#include "parallel/execution_context.hpp"
#include "parallel/parallel.hpp"
#include "tree_common/knn_search_impl.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// Core distances of every point of `tree` under a search space
// (search_space/search_space.hpp), with 1 <= k <= tree.n_points, and optionally the
// neighbour lists, as tree_core_distances describes; rows are numbered as tree.indices
// numbers them. The core distance is the space's distance of the k-th nearest row.
template <SpatialTree Tree, class Space>
CoreDistanceResult space_core_distances(const Tree& tree, const Space& space, std::size_t k,
                                        bool keep_neighbors, const ExecutionContext& context) {
    // Pieces of rows per worker thread of a core-distance pass.
    constexpr std::size_t PIECES_PER_WORKER = 16;
    const std::size_t n = tree.n_points;
    if (n == 0) return {};
    CoreDistanceResult result =
        start_core_result(n, k, keep_neighbors, "tree_core_distances", context);

    // Rows are visited in tree order: consecutive queries are near each other and walk
    // mostly the same nodes, which keeps them in cache. The query is the tree's copy of
    // the row, equal to the matrix row. Results still land in input row order.
    //
    // Searches in dense and sparse regions differ in cost, so the rows are cut into
    // several pieces per thread that the workers take in turn; every row is computed on
    // its own, so the pieces change nothing but the balance.
    const std::size_t workers = n >= PARALLEL_MIN_ROWS ? context.threads() : 1;
    const std::size_t piece = std::max(
        PARALLEL_MIN_ROWS, (n + PIECES_PER_WORKER * workers - 1) / (PIECES_PER_WORKER * workers));
    run_task_queue(context, workers, (n + piece - 1) / piece, [&](std::size_t, std::size_t t) {
        const RowChunk chunk{t * piece, std::min(n, (t + 1) * piece)};
        KnnHeap heap(k);
        for (std::size_t position = chunk.start; position < chunk.end; ++position) {
            context.check_every(position, 16);
            const std::size_t row = tree.indices[position];
            heap.clear();
            search_knn_unchecked(tree, space, space.query_at(tree, position), heap);
            record_heap(heap, row, space.to_distance(heap.max_distance()), result);
        }
    });
    return result;
}

}  // namespace corvane
