#include "core_distance/blocked_core_distances.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "block_search/block_search.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "knn_heap/knn_heap.hpp"

namespace corvane {
namespace {

// The k nearest rows of every row of one block.
class NearestRows {
  public:
    NearestRows(const BlockTree& tree, std::size_t k)
        : tree_(tree), heaps_(GramScreen::MAX_BLOCK_ROWS, KnnHeap(k)) {}

    void start(std::size_t first, std::size_t rows) {
        first_ = first;
        rows_ = rows;
        for (std::size_t i = 0; i < rows; ++i)
            heaps_[i].clear();
    }

    const KnnHeap& heap(std::size_t i) const { return heaps_[i]; }

    // Every row of a node lies at a squared distance of at least floor^2 from a query row,
    // so once that reaches the row's worst kept entry nothing there can enter its heap (a
    // full heap rejects anything at or beyond its worst entry).
    bool prune(std::size_t, std::span<const double> floor) const {
        for (std::size_t i = 0; i < rows_; ++i) {
            if (!heaps_[i].is_full() || !(floor[i] * floor[i] >= heaps_[i].max_distance())) {
                return false;
            }
        }
        return true;
    }

    // A row whose floor reaches its worst kept entry wants nothing from the block.
    std::size_t screen(const BlockPair& pair, std::span<const double> floor, std::size_t,
                       ScreenScratch& scratch) {
        const std::span<double> t(threshold_.data(), rows_);
        for (std::size_t i = 0; i < rows_; ++i) {
            const KnnHeap& heap = heaps_[i];
            if (!heap.is_full()) {
                t[i] = std::numeric_limits<double>::infinity();
            } else {
                t[i] = floor[i] * floor[i] >= heap.max_distance()
                           ? -std::numeric_limits<double>::infinity()
                           : heap.max_distance();
            }
        }
        return screen_block_pair(pair, t, scratch);
    }

    void open_pair(std::size_t query, std::size_t reference) {
        KnnHeap& heap = heaps_[query - first_];
        const std::size_t dims = tree_.dims;
        const double* rows = tree_.tree_data.data();
        const double bound =
            heap.is_full() ? heap.max_distance() : std::numeric_limits<double>::infinity();
        heap.push(tree_.indices[reference],
                  squared_distance(rows + query * dims, rows + reference * dims, dims, bound));
    }

  private:
    const BlockTree& tree_;
    std::vector<KnnHeap> heaps_;
    std::vector<double> threshold_ = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
    std::size_t first_ = 0;
    std::size_t rows_ = 0;
};

}  // namespace

CoreDistanceResult blocked_core_distances(const BlockTree& blocks, std::size_t k,
                                          bool keep_neighbors, const ExecutionContext& context) {
    const BlockTree& tree = blocks;
    const std::size_t n = tree.n_points;
    CoreDistanceResult result =
        start_core_result(n, k, keep_neighbors, "blocked_core_distances", context);

    const std::size_t workers = n >= PARALLEL_MIN_ROWS ? context.threads() : 1;
    std::vector<NearestRows> nearest(workers, NearestRows(tree, k));
    std::vector<BlockSearchScratch> scratch(workers);
    run_task_queue(context, workers, blocks.blocks(), [&](std::size_t worker, std::size_t block) {
        NearestRows& rows = nearest[worker];
        const std::size_t first = blocks.block_start[block];
        const std::size_t count = blocks.block_end(block) - first;
        rows.start(first, count);
        search_block(blocks, tree_query_block(blocks, block), rows, scratch[worker]);
        for (std::size_t i = 0; i < count; ++i) {
            const KnnHeap& heap = rows.heap(i);
            record_heap(heap, tree.indices[first + i], std::sqrt(heap.max_distance()), result);
        }
    });
    return result;
}

}  // namespace corvane
