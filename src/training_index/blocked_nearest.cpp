#include "training_index/blocked_nearest.hpp"

#include <cmath>
#include <limits>
#include <variant>
#include <vector>

#include "block_search/block_search.hpp"
#include "common/internal_error.hpp"
#include "distance/euclidean/euclidean.hpp"
#include "parallel/parallel.hpp"
#include "training_index/training_index.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
// Relative margin by which a squared threshold exceeds the square of a reachability, so
// that every row at that reachability or nearer stays open after rounding.
constexpr double SQUARE_MARGIN = 8.0 * std::numeric_limits<double>::epsilon();

// The nearest training points of one block of new points. Rows are numbered 0 .. rows - 1
// in the block's screen.
class NearestTraining {
  public:
    NearestTraining(const TrainingIndex& index, const BlockTree& tree)
        : index_(index), tree_(tree) {}

    void start(const double* rows, std::size_t count) {
        rows_ = rows;
        count_ = count;
        nearest_.assign(count, NearestCandidate{});
    }

    const NearestCandidate& nearest(std::size_t i) const { return nearest_[i]; }

    // A training point's reachability is at least its distance and its core distance; an
    // equal bound is searched, since an equal reachability at a lower index wins.
    bool prune(std::size_t node, std::span<const double> floor) const {
        const double core = index_.node_min_core[node];
        for (std::size_t i = 0; i < count_; ++i) {
            const double bound = floor[i] > core ? floor[i] : core;
            if (!(bound > nearest_[i].reachability || bound == INF)) return false;
        }
        return true;
    }

    std::size_t screen(const BlockPair& pair, std::span<const double>, std::size_t,
                       ScreenScratch& scratch) {
        for (std::size_t i = 0; i < count_; ++i) {
            const double r = nearest_[i].reachability;
            threshold_[i] = r * r * (1.0 + SQUARE_MARGIN);
        }
        return screen_block_pair(pair, {threshold_.data(), count_}, scratch);
    }

    void open_pair(std::size_t i, std::size_t position) {
        NearestCandidate& best = nearest_[i];
        const double core = index_.core_distances[position];
        if (core > best.reachability) return;
        const std::size_t dims = tree_.dims;
        const double distance = euclidean_distance(PointView(rows_ + i * dims, dims),
                                                   PointView(tree_.row(position), dims));
        best.offer(tree_.indices[position], one_sided_reachability(distance, core));
    }

  private:
    const TrainingIndex& index_;
    const BlockTree& tree_;
    const double* rows_ = nullptr;
    std::size_t count_ = 0;
    std::vector<NearestCandidate> nearest_;
    std::vector<double> threshold_ = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
};

}  // namespace

void blocked_nearest(const TrainingIndex& index, const DataMatrix& points,
                     std::span<const std::size_t> order, std::span<NearestCandidate> nearest,
                     const ExecutionContext& context) {
    const BlockTree* tree = std::get_if<BlockTree>(&index.tree);
    if (tree == nullptr || points.cols != tree->dims || nearest.size() != points.rows) {
        fail_internal("blocked_nearest: the index holds no block tree for these points");
    }
    const std::size_t dims = points.cols;
    // Rows with a coordinate that is not finite have no candidate and are left out.
    std::vector<std::size_t> usable;
    usable.reserve(order.size());
    for (const std::size_t row : order) {
        const double* point = points.row(row);
        bool finite = true;
        for (std::size_t c = 0; c < dims; ++c)
            finite = finite && std::isfinite(point[c]);
        nearest[row] = {};
        if (finite) usable.push_back(row);
    }
    constexpr std::size_t BLOCK = GramScreen::MAX_BLOCK_ROWS;
    const std::size_t blocks = (usable.size() + BLOCK - 1) / BLOCK;
    const std::size_t workers = usable.size() >= PARALLEL_MIN_ROWS ? context.threads() : 1;
    std::vector<NearestTraining> searches(workers, NearestTraining(index, *tree));
    std::vector<BlockSearchScratch> scratch(workers);
    run_task_queue(context, workers, blocks, [&](std::size_t worker, std::size_t b) {
        const std::size_t first = b * BLOCK;
        const std::size_t count = std::min(BLOCK, usable.size() - first);
        std::vector<double> rows(count * dims);
        for (std::size_t i = 0; i < count; ++i) {
            const double* point = points.row(usable[first + i]);
            std::copy(point, point + dims, rows.begin() + static_cast<std::ptrdiff_t>(i * dims));
        }
        const std::size_t start = 0;
        const GramScreen screen = GramScreen::build(rows, dims, {&start, 1}, &tree->screen);
        NearestTraining& search = searches[worker];
        search.start(rows.data(), count);
        search_block(*tree, QueryBlock{&screen, 0, 0, count, rows.data(), NO_NODE}, search,
                     scratch[worker]);
        for (std::size_t i = 0; i < count; ++i)
            nearest[usable[first + i]] = search.nearest(i);
    });
}

}  // namespace corvane
