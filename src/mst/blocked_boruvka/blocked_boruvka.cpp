#include "mst/blocked_boruvka/blocked_boruvka.hpp"

#include <atomic>
#include <cmath>
#include <limits>
#include <string>

#include "block_search/block_search.hpp"
#include "common/internal_error.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "mst/dual_tree_boruvka/boruvka_run.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// (weight, from, to) order of candidates; a NaN weight is never less.
bool cheaper(const BoruvkaCandidate& a, const BoruvkaCandidate& b) {
    if (a.weight_sq != b.weight_sq) return a.weight_sq < b.weight_sq;
    return a.from != b.from ? a.from < b.from : a.to < b.to;
}

// What one search shares between its workers.
struct SearchShared {
    const BlockTree& tree;
    const BoruvkaSearchState& state;
    std::span<const BoruvkaCandidate> candidates;
    // Per component: the weight of an edge some worker has found, lowered atomically.
    // A pair is skipped only when it weighs strictly more, so every edge that could be
    // the smallest under (weight, from, to) is still met.
    std::vector<double>& shared_bound;
    // Per tree position: the cheapest edge found from that point, under (weight, to).
    std::vector<BoruvkaCandidate>& best;
    // Squared-distance threshold of a squared mutual-reachability bound.
    double alpha_sq_slack;
};

double load(double& value) {
    return std::atomic_ref<double>(value).load(std::memory_order_relaxed);
}

void lower(double& value, double weight) {
    std::atomic_ref<double> shared(value);
    double known = shared.load(std::memory_order_relaxed);
    while (weight < known &&
           !shared.compare_exchange_weak(known, weight, std::memory_order_relaxed)) {
    }
}

// The rows of one block looking for their cheapest edges to other components.
class CheapestEdges {
  public:
    explicit CheapestEdges(SearchShared& shared) : s_(shared) {}

    void start(std::size_t first, std::size_t rows) {
        first_ = first;
        rows_ = rows;
        const std::size_t* component = s_.state.position_component.data();
        block_component_ = component[first];
        for (std::size_t i = 1; i < rows; ++i) {
            if (component[first + i] != block_component_) block_component_ = NO_COMPONENT;
        }
    }

    // A row can gain from a node only while its component's bound exceeds neither its own
    // core distance nor the mutual reachability that the row's floor and the node's
    // smallest core distance allow. The bound of a row is what its component already has:
    // its candidate, what some worker found for it, what the row itself found.
    bool prune(std::size_t node, std::span<const double> floor) {
        if (block_component_ != NO_COMPONENT && s_.state.node_component[node] == block_component_) {
            return true;
        }
        refresh_bounds();
        const double node_core = s_.state.node_min_core_sq[node];
        for (std::size_t i = 0; i < rows_; ++i) {
            if (wants(i, node_core, floor[i])) return false;
        }
        return true;
    }

    // For a row that can gain from the block: the squared distance below which a pair could
    // weigh no more than the row's bound.
    void thresholds(std::span<double> t, std::span<const double> floor) {
        refresh_bounds();
        for (std::size_t i = 0; i < rows_; ++i) {
            if (!wants(i, -INF, floor[i])) {
                t[i] = -INF;
            } else {
                t[i] = s_.alpha_sq_slack == 1.0 ? bound_[i] : bound_[i] * s_.alpha_sq_slack;
            }
        }
    }

    void open_pair(std::size_t p, std::size_t q) {
        const std::size_t* component = s_.state.position_component.data();
        const std::size_t cp = component[p];
        if (component[q] == cp) return;
        BoruvkaCandidate& best = s_.best[p];
        const double bound = std::min(bound_[p - first_], best.weight_sq);
        const double* core_sq = s_.state.position_core_sq.data();
        const double core = max_ignoring_nan(core_sq[p], core_sq[q]);
        if (!(core <= bound)) return;
        const MutualReachabilitySq& mr = s_.state.mutual_reachability;
        const std::size_t dims = s_.tree.dims;
        double d_sq = 0.0;
        if (!squared_distance_unless<DYNAMIC_DIMS>(
                s_.tree.row(p), s_.tree.row(q), dims,
                [&](double partial) { return mr(core, partial) > bound; }, d_sq)) {
            return;
        }
        const double w = mr(core, d_sq);
        if (!(w <= bound)) return;
        if (w < best.weight_sq || (w == best.weight_sq && q < best.to)) {
            best = {w, p, q};
            lower(s_.shared_bound[cp], w);
        }
    }

  private:
    void refresh_bounds() {
        const std::size_t* component = s_.state.position_component.data();
        for (std::size_t i = 0; i < rows_; ++i) {
            const std::size_t p = first_ + i;
            const std::size_t c = component[p];
            const double bound = std::min(s_.candidates[c].weight_sq, load(s_.shared_bound[c]));
            bound_[i] = std::min(bound, s_.best[p].weight_sq);
        }
    }

    bool wants(std::size_t i, double node_core_sq, double floor) const {
        const double core = max_ignoring_nan(s_.state.position_core_sq[first_ + i], node_core_sq);
        return !(s_.state.mutual_reachability(core, floor * floor) > bound_[i]);
    }

    SearchShared& s_;
    std::size_t first_ = 0;
    std::size_t rows_ = 0;
    std::size_t block_component_ = NO_COMPONENT;
    std::vector<double> bound_ = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
};

// The search of BoruvkaRun's iterations over a BlockTree.
class BlockedSearch {
  public:
    BlockedSearch(const BlockTree& tree, double alpha, std::size_t threads)
        : tree_(tree),
          workers_(threads),
          alpha_sq_slack_(alpha == 1.0 ? 1.0
                                       : alpha * alpha *
                                             (1.0 + 16.0 * std::numeric_limits<double>::epsilon())),
          scratch_(threads) {}

    void compute_min_core(std::span<const double> core_distances,
                          std::vector<double>& node_min_core_sq) {
        node_min_core_sq.assign(tree_.nodes.size(), INF);
        corvane::compute_node_min_core(tree_, core_distances, node_min_core_sq, 0,
                                       tree_.nodes.size());
    }

    void summarise(BoruvkaSearchState& state, std::span<const BoruvkaCandidate>,
                   std::vector<double>&) {
        state.node_component.assign(tree_.nodes.size(), NO_COMPONENT);
        label_nodes(tree_, state.position_component, state.node_component, 0, tree_.nodes.size());
    }

    void search(const BoruvkaSearchState& state, std::vector<BoruvkaCandidate>& candidates,
                std::span<double>) {
        const std::size_t n = tree_.n_points;
        shared_bound_.resize(candidates.size());
        for (std::size_t c = 0; c < candidates.size(); ++c)
            shared_bound_[c] = candidates[c].weight_sq;
        best_.assign(n, BoruvkaCandidate{});
        SearchShared shared{tree_, state, candidates, shared_bound_, best_, alpha_sq_slack_};
        std::vector<CheapestEdges> edges(workers_, CheapestEdges(shared));
        run_task_queue(workers_, tree_.blocks(), [&](std::size_t worker, std::size_t block) {
            const std::size_t first = tree_.block_start[block];
            edges[worker].start(first, tree_.block_end(block) - first);
            search_block(tree_, block, edges[worker], scratch_[worker]);
        });
        const std::vector<std::size_t>& component = state.position_component;
        for (std::size_t p = 0; p < n; ++p) {
            if (best_[p].weight_sq == INF) continue;
            BoruvkaCandidate& into = candidates[component[p]];
            if (cheaper(best_[p], into)) into = best_[p];
        }
    }

  private:
    const BlockTree& tree_;
    std::size_t workers_;
    double alpha_sq_slack_;
    std::vector<BlockSearchScratch> scratch_;
    std::vector<double> shared_bound_;
    std::vector<BoruvkaCandidate> best_;
};

}  // namespace

std::vector<MstEdge> blocked_boruvka(const BlockTree& tree, std::span<const double> core_distances,
                                     std::vector<std::size_t> neighbors,
                                     std::size_t neighbors_per_point, double alpha,
                                     std::size_t threads) {
    const std::size_t n = tree.n_points;
    if (core_distances.size() != n || neighbors.size() != n * neighbors_per_point) {
        fail_internal("blocked_boruvka: " + std::to_string(core_distances.size()) +
                      " core distances and " + std::to_string(neighbors.size()) +
                      " neighbours for " + std::to_string(n) + " points");
    }
    if (n <= 1) return {};
    return boruvka_detail::BoruvkaRun<BlockTree>(tree, core_distances, alpha, threads)
        .run(std::move(neighbors), neighbors_per_point,
             [&](std::size_t workers) { return BlockedSearch(tree, alpha, workers); });
}

}  // namespace corvane
