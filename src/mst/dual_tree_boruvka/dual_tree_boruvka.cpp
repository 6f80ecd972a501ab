#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>
#include <tuple>

#include "ball_tree/ball_tree.hpp"
#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "mst/dual_tree_boruvka/dual_tree_search.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "tree_common/squared_distance.hpp"
#include "union_find/union_find.hpp"

namespace corvane {
namespace {

constexpr double INFINITE_WEIGHT = std::numeric_limits<double>::infinity();

// Rows ahead whose scattered entries are fetched before they are needed.
constexpr std::size_t PREFETCH_ROWS = 8;

// One candidate offered to a merge batch. `weight` is squared in the seeding batches and a
// true distance in the search batches.
struct BatchEntry {
    double weight;
    std::size_t from;
    std::size_t to;
};

// Search tasks for a mean component size: many small components (early iterations, short
// searches per task) get more and smaller tasks, so that the work spreads evenly.
std::size_t search_target(std::size_t mean_size, std::size_t processors) {
    if (mean_size < 10) return std::min<std::size_t>(2 * processors, 16);
    if (mean_size < 100) return std::min<std::size_t>(processors, 8);
    return std::min<std::size_t>(processors, 4);
}

template <class Tree>
class BoruvkaRun {
  public:
    BoruvkaRun(const Tree& tree, std::span<const double> core_distances, double alpha,
               std::size_t threads)
        : tree_(tree),
          n_(tree.n_points),
          core_distances_(core_distances),
          threads_(threads),
          uf_(n_),
          candidates_(n_),
          core_sq_(n_),
          component_of_(n_),
          components_(n_) {
        for (std::size_t i = 0; i < n_; ++i)
            core_sq_[i] = core_distances[i] * core_distances[i];
        state_.mutual_reachability = MutualReachabilitySq(alpha);
        edges_.reserve(n_ - 1);
    }

    std::vector<MstEdge> run(std::span<const std::size_t> neighbors, std::size_t per_point) {
        seed(neighbors, per_point);
        if (components_ > 1) {
            prepare_nodes();
            iterate();
        }
        return std::move(edges_);
    }

  private:
    double mutual_reachability_sq(std::size_t a, std::size_t b) const {
        const std::size_t dims = tree_.dims;
        const double d_sq =
            squared_distance(tree_.data.data() + a * dims, tree_.data.data() + b * dims, dims);
        return state_.mutual_reachability(max_ignoring_nan(core_sq_[a], core_sq_[b]), d_sq);
    }

    // No edge at point y weighs less than mr²(y) with a zero distance, since mr² grows
    // with both the core term and the distance.
    double seed_floor(std::size_t y) const { return state_.mutual_reachability(core_sq_[y], 0.0); }

    // Offers every neighbour pair (i, j) to both entries i and j, rows in order and each
    // row's neighbours in stored order, so that the pair met first keeps a tie. Every
    // point is still its own component here: entry i is the candidate of point i's
    // component. The weights read only shared inputs and are computed over threads
    // first; the offers, whose order matters, follow on this thread.
    void offer_neighbour_pairs(std::span<const std::size_t> neighbors, std::size_t per_point) {
        const auto pair = [&](std::size_t i, std::size_t e) {
            return neighbors[i * per_point + e];
        };
        const auto usable = [&](std::size_t i, std::size_t j) { return j != i && j < n_; };
        std::vector<double> weight(neighbors.size());
        for_each_row_chunk(n_, threads_, [&](RowChunk chunk) {
            for (std::size_t i = chunk.start; i < chunk.end; ++i) {
                for (std::size_t e = 0; e < per_point; ++e) {
                    if (i + PREFETCH_ROWS < chunk.end) {
                        const std::size_t later = pair(i + PREFETCH_ROWS, e);
                        if (later < n_) {
                            __builtin_prefetch(tree_.data.data() + later * tree_.dims);
                            __builtin_prefetch(&core_sq_[later]);
                        }
                    }
                    const std::size_t j = pair(i, e);
                    if (usable(i, j)) weight[i * per_point + e] = mutual_reachability_sq(i, j);
                }
            }
        });
        for (std::size_t i = 0; i < n_; ++i) {
            for (std::size_t e = 0; i + PREFETCH_ROWS < n_ && e < per_point; ++e) {
                const std::size_t later = pair(i + PREFETCH_ROWS, e);
                if (later < n_) __builtin_prefetch(&candidates_[later], 1);
            }
            for (std::size_t e = 0; e < per_point; ++e) {
                const std::size_t j = pair(i, e);
                if (!usable(i, j)) continue;
                const double w = weight[i * per_point + e];
                if (w < candidates_[i].weight_sq) candidates_[i] = {w, i, j};
                if (w < candidates_[j].weight_sq) candidates_[j] = {w, j, i};
            }
        }
    }

    // Merges along the offered pairs, batch by batch, handing leftover candidates up to
    // their representatives in between.
    //
    // A pair enters a batch only when it weighs exactly the floor of its `from` point: it
    // is then the cheapest edge at that point, and every point owns at most one such
    // edge, so any acyclic set of them lies in a minimum spanning tree. Any other
    // neighbour pair can be beaten by a cheaper pair outside the lists; it stays a
    // candidate (an upper bound) for the first search instead.
    void seed(std::span<const std::size_t> neighbors, std::size_t per_point) {
        offer_neighbour_pairs(neighbors, per_point);
        // Union-find changes only inside accept(), so one snapshot of the components
        // after each merge serves the hand-up and the next batch.
        std::iota(component_of_.begin(), component_of_.end(), std::size_t{0});
        std::vector<BatchEntry> batch;
        for (;;) {
            batch.clear();
            for (std::size_t r = 0; r < n_; ++r) {
                if (component_of_[r] != r) continue;
                const BoruvkaCandidate& c = candidates_[r];
                if (c.weight_sq == INFINITE_WEIGHT || std::isnan(c.weight_sq)) continue;
                if (c.weight_sq <= seed_floor(c.from) &&
                    component_of_[c.from] != component_of_[c.to]) {
                    batch.push_back({c.weight_sq, c.from, c.to});
                }
            }
            if (batch.empty() || accept(batch, true) == 0) return;
            take_snapshot();
            hand_up();
        }
    }

    void take_snapshot() {
        for (std::size_t i = 0; i < n_; ++i)
            component_of_[i] = uf_.find(i);
    }

    // Drops representatives' candidates that have become internal and passes
    // non-representatives' candidates that still cross up to their representative when
    // they are cheaper. Reads the components from the current snapshot.
    void hand_up() {
        const std::size_t* component = component_of_.data();
        for (std::size_t x = 0; x < n_; ++x) {
            const std::size_t r = component[x];
            BoruvkaCandidate& own = candidates_[x];
            if (x == r) {
                if (own.weight_sq != INFINITE_WEIGHT && component[own.from] == component[own.to]) {
                    own.weight_sq = INFINITE_WEIGHT;
                }
            } else if (own.weight_sq < candidates_[r].weight_sq &&
                       component[own.from] != component[own.to]) {
                candidates_[r] = own;
            }
        }
    }

    // Sorts the batch by (weight, from, to) and adds every candidate whose ends are still
    // apart; returns the number of edges added. The keys are distinct: each component
    // offers at most one candidate and its `from` lies inside that component.
    std::size_t accept(std::vector<BatchEntry>& batch, bool squared) {
        for (const BatchEntry& e : batch) {
            if (std::isnan(e.weight)) fail_internal("dual_tree_boruvka: NaN weight in a batch");
        }
        std::sort(batch.begin(), batch.end(), [](const BatchEntry& a, const BatchEntry& b) {
            return std::tie(a.weight, a.from, a.to) < std::tie(b.weight, b.from, b.to);
        });
        std::size_t added = 0;
        for (const BatchEntry& e : batch) {
            const std::size_t ra = uf_.find(e.from);
            const std::size_t rb = uf_.find(e.to);
            if (ra == rb) continue;
            edges_.push_back({e.from, e.to, squared ? std::sqrt(e.weight) : e.weight});
            uf_.unite(ra, rb);
            --components_;
            ++added;
        }
        return added;
    }

    void prepare_nodes() {
        state_.node_min_core_sq = compute_node_min_core(tree_, core_distances_);
        state_.position_core_sq.resize(n_);
        for (std::size_t i = 0; i < n_; ++i)
            state_.position_core_sq[i] = core_sq_[tree_.indices[i]];
        state_.position_component.resize(n_);
    }

    void iterate() {
        std::vector<BatchEntry> batch;
        while (components_ > 1) {
            take_snapshot();
            hand_up();
            for (std::size_t i = 0; i < n_; ++i)
                state_.position_component[i] = component_of_[tree_.indices[i]];
            label_nodes(tree_, state_.position_component, state_.node_component);
            search();

            batch.clear();
            for (std::size_t r = 0; r < n_; ++r) {
                const BoruvkaCandidate& c = candidates_[r];
                if (component_of_[r] != r || c.weight_sq == INFINITE_WEIGHT ||
                    std::isnan(c.weight_sq)) {
                    continue;
                }
                batch.push_back({std::sqrt(c.weight_sq), c.from, c.to});
            }
            if (batch.empty() || accept(batch, false) == 0) return;
        }
    }

    // In parallel, every task searches its query subtree against the whole tree on a
    // private copy of the candidates; the copies are merged in task order, keeping the
    // earlier entry among equal weights.
    void search() {
        bound_nodes(tree_, state_.position_component, candidates_, node_bound_);
        const bool parallel =
            threads_ >= 2 && n_ >= PARALLEL_MIN_ROWS && !tree_.nodes.front().is_leaf;
        if (!parallel) {
            dual_tree_search(tree_, state_, 0, 0, {candidates_, node_bound_});
            return;
        }
        const std::size_t mean_size = n_ / std::max<std::size_t>(components_, 1);
        const std::vector<std::size_t> tasks =
            collect_subtrees(tree_, search_target(mean_size, threads_));
        if (workers_.size() < tasks.size()) workers_.resize(tasks.size());
        run_tasks(tasks.size(), [&](std::size_t t) {
            WorkerTable& own = workers_[t];
            own.candidates = candidates_;
            own.node_bound = node_bound_;
            dual_tree_search(tree_, state_, tasks[t], 0, {own.candidates, own.node_bound});
        });
        for (std::size_t t = 0; t < tasks.size(); ++t) {
            const BoruvkaCandidate* copy = workers_[t].candidates.data();
            for (std::size_t j = 0; j < n_; ++j) {
                if (copy[j].weight_sq < candidates_[j].weight_sq) candidates_[j] = copy[j];
            }
        }
    }

    // Private state of one parallel search task, kept across iterations to reuse memory.
    struct WorkerTable {
        std::vector<BoruvkaCandidate> candidates;
        std::vector<double> node_bound;
    };

    const Tree& tree_;
    std::size_t n_;
    std::span<const double> core_distances_;
    std::size_t threads_;
    UnionFind uf_;
    std::vector<BoruvkaCandidate> candidates_;
    std::vector<double> core_sq_;
    std::vector<std::size_t> component_of_;
    BoruvkaSearchState state_;
    std::vector<double> node_bound_;
    std::vector<WorkerTable> workers_;
    std::vector<MstEdge> edges_;
    std::size_t components_;
};

}  // namespace

template <class Tree>
std::vector<MstEdge> dual_tree_boruvka(const Tree& tree, std::span<const double> core_distances,
                                       std::span<const std::size_t> neighbors,
                                       std::size_t neighbors_per_point, double alpha,
                                       std::size_t threads) {
    const std::size_t n = tree.n_points;
    if (core_distances.size() != n) {
        fail_internal("dual_tree_boruvka: " + std::to_string(core_distances.size()) +
                      " core distances for " + std::to_string(n) + " points");
    }
    if (neighbors.size() != n * neighbors_per_point) {
        fail_internal("dual_tree_boruvka: neighbour matrix of " + std::to_string(neighbors.size()) +
                      " entries for " + std::to_string(n) + " x " +
                      std::to_string(neighbors_per_point));
    }
    if (n <= 1) return {};
    return BoruvkaRun<Tree>(tree, core_distances, alpha, threads)
        .run(neighbors, neighbors_per_point);
}

template std::vector<MstEdge> dual_tree_boruvka(const KdTree&, std::span<const double>,
                                                std::span<const std::size_t>, std::size_t, double,
                                                std::size_t);
template std::vector<MstEdge> dual_tree_boruvka(const BallTree&, std::span<const double>,
                                                std::span<const std::size_t>, std::size_t, double,
                                                std::size_t);

}  // namespace corvane
