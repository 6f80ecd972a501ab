#include "core_distance/core_distance.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "ball_tree/ball_tree.hpp"
#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "knn_heap/knn_heap.hpp"
#include "tree_common/knn_search.hpp"

namespace corvane {
namespace {

// Pieces of rows per worker thread of a core-distance pass.
constexpr std::size_t PIECES_PER_WORKER = 16;

}  // namespace

void record_heap(const KnnHeap& heap, std::size_t row, CoreDistanceResult& result) {
    result.core_distances[row] = std::sqrt(heap.max_distance());
    if (result.neighbors.empty()) return;
    const std::size_t width = heap.k() - 1;
    std::size_t* out = result.neighbors.data() + row * width;
    std::size_t written = 0;
    for (const KnnEntry& entry : heap.entries()) {
        if (written == width) break;
        if (entry.index != row) out[written++] = entry.index;
    }
}

template <SpatialTree Tree>
CoreDistanceResult tree_core_distances(const DataMatrix& matrix, const Tree& tree, std::size_t k,
                                       bool keep_neighbors, const ExecutionContext& context) {
    const std::size_t n = tree.n_points;
    const std::size_t dims = tree.dims;
    if (matrix.rows != n || matrix.cols != dims) {
        fail_internal("tree_core_distances: the matrix shape does not match the tree");
    }
    if (k == 0 || k > n) {
        if (n == 0) return {};
        fail_internal("tree_core_distances: k = " + std::to_string(k) + " outside [1, " +
                      std::to_string(n) + "]");
    }

    const std::size_t width = k - 1;
    CoreDistanceResult result;
    result.core_distances.assign(n, 0.0);
    if (keep_neighbors) result.neighbors.assign(n * width, 0);

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
            search_knn(tree, std::span<const double>(tree.row(position), dims), heap);
            record_heap(heap, row, result);
        }
    });
    return result;
}

template CoreDistanceResult tree_core_distances<KdTree>(const DataMatrix&, const KdTree&,
                                                        std::size_t, bool, const ExecutionContext&);
template CoreDistanceResult tree_core_distances<BallTree>(const DataMatrix&, const BallTree&,
                                                          std::size_t, bool,
                                                          const ExecutionContext&);

}  // namespace corvane
