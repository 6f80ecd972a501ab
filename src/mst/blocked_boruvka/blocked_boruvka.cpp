#include "mst/blocked_boruvka/blocked_boruvka.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>

#include "block_search/block_search.hpp"
#include "common/internal_error.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "mst/dual_tree_boruvka/boruvka_run.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "mst/mutual_reachability.hpp"
#include "tree_common/bottom_up.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
// Relative margin for the rounding of alpha^2 times a squared distance or core distance,
// which the exact weight compares in true units instead.
constexpr double SCALE_MARGIN = 16.0 * std::numeric_limits<double>::epsilon();

// (weight, from, to) order of candidates; a NaN weight is never less.
bool cheaper(const BoruvkaCandidate& a, const BoruvkaCandidate& b) {
    if (a.weight != b.weight) return a.weight < b.weight;
    return a.from != b.from ? a.from < b.from : a.to < b.to;
}

double load(double& value) {
    return std::atomic_ref<double>(value).load(std::memory_order_relaxed);
}

// Lowers a bound shared by the workers. A pair is skipped only when it weighs strictly
// more than a bound, so every edge that could be the smallest under (weight, from, to) is
// still met: what the workers find does not depend on their timing, only their work does.
void lower(double& value, double weight) {
    std::atomic_ref<double> shared(value);
    double known = shared.load(std::memory_order_relaxed);
    while (weight < known &&
           !shared.compare_exchange_weak(known, weight, std::memory_order_relaxed)) {
    }
}

// What the workers of one search share. Screen values are in squared distance units: with
// alpha = 1 weights are max(core_sq, d_sq) as they stand; otherwise core terms are scaled
// down and thresholds up by alpha^2 with a margin for the rounding of the scaled distance,
// so the screen still closes only pairs that cannot matter (and does not lower thresholds
// by upper bounds, which would need the exact scaled weight).
struct SearchInputs {
    const BlockTree& tree;
    const BoruvkaSearchState<>& state;
    std::span<const double> floor;  // per tree position: the core term, screen units
    double alpha_sq_up;             // 1 when alpha is 1
    std::span<double> shared;       // per component: an edge weight some worker found
};

// The rows of one block looking for their components' cheapest edges to other components,
// into a worker's private table (indexed by component). Every pair is met from both of its
// rows' blocks, so an edge improves the query row's component only.
class CheapestEdges {
  public:
    CheapestEdges(const SearchInputs& in, std::vector<BoruvkaCandidate>& table)
        : in_(in), table_(table) {}

    void start(std::size_t first, std::size_t rows) {
        first_ = first;
        rows_ = rows;
        const std::size_t* component = in_.state.position_component.data();
        block_component_ = component[first];
        for (std::size_t i = 1; i < rows; ++i) {
            if (component[first + i] != block_component_) block_component_ = NO_COMPONENT;
        }
    }

    // A node is of no use when it lies in the block's own component, or when for every row
    // the mutual reachability that the row's floor and the node's smallest core distance
    // allow exceeds what the row's component already has.
    bool prune(std::size_t node, std::span<const double> floor) const {
        if (block_component_ != NO_COMPONENT &&
            in_.state.node_component[node] == block_component_) {
            return true;
        }
        const double node_core = in_.state.node_min_core[node];
        for (std::size_t i = 0; i < rows_; ++i) {
            const double core = max_ignoring_nan(in_.state.position_core[first_ + i], node_core);
            if (!(in_.state.mutual_reachability(core, floor[i] * floor[i]) > bound(first_ + i))) {
                return false;
            }
        }
        return true;
    }

    // Rows look for pairs up to their component's bound; reference rows want nothing.
    std::size_t screen(const BlockPair& pair, std::span<const double>, std::size_t,
                       ScreenScratch& scratch) {
        for (std::size_t i = 0; i < rows_; ++i) {
            const double b = bound(first_ + i);
            query_threshold_[i] = in_.alpha_sq_up == 1.0 ? b : b * in_.alpha_sq_up;
        }
        std::fill(reference_threshold_.begin(), reference_threshold_.end(), -INF);
        const auto side = [&](std::size_t first, std::size_t rows, std::vector<double>& t) {
            return ScreenSide{{t.data(), rows},
                              {in_.state.position_component.data() + first, rows},
                              {in_.floor.data() + first, rows}};
        };
        block_dots(pair, scratch);
        return screen_grouped_pair(
            pair, side(first_, rows_, query_threshold_),
            side(pair.reference_first, pair.reference_rows, reference_threshold_),
            in_.alpha_sq_up == 1.0, scratch, 0);
    }

    void open_pair(std::size_t p, std::size_t q) {
        const std::size_t* component = in_.state.position_component.data();
        const std::size_t cp = component[p];
        if (component[q] == cp) return;
        const double limit = bound(p);
        const double* core_sq = in_.state.position_core.data();
        const double core = max_ignoring_nan(core_sq[p], core_sq[q]);
        if (!(core <= limit)) return;
        const MutualReachabilitySq& mr = in_.state.mutual_reachability;
        double d_sq = 0.0;
        if (!squared_distance_unless<DYNAMIC_DIMS>(
                in_.tree.row(p), in_.tree.row(q), in_.tree.dims,
                [&](double partial) { return mr(core, partial) > limit; }, d_sq)) {
            return;
        }
        const double w = mr(core, d_sq);
        const BoruvkaCandidate edge{w, p, q};
        if (w <= limit && cheaper(edge, table_[cp])) {
            table_[cp] = edge;
            lower(in_.shared[cp], w);
        }
    }

  private:
    // The weight above which an edge of row p cannot become its component's candidate.
    double bound(std::size_t p) const {
        const std::size_t c = in_.state.position_component[p];
        return std::min(table_[c].weight, load(in_.shared[c]));
    }

    const SearchInputs& in_;
    std::vector<BoruvkaCandidate>& table_;
    std::size_t first_ = 0;
    std::size_t rows_ = 0;
    std::size_t block_component_ = NO_COMPONENT;
    std::vector<double> query_threshold_ = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
    std::vector<double> reference_threshold_ = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
};

// The search of BoruvkaRun's iterations over a BlockTree: every block against the tree,
// the blocks taken from a queue by the workers; each worker owns a private copy of the
// candidate table, and the copies are merged under (weight, from, to) after the pass.
class BlockedSearch {
  public:
    BlockedSearch(const BlockTree& tree, double alpha, std::size_t threads,
                  const ExecutionContext& context)
        : tree_(tree),
          context_(context),
          workers_(threads),
          alpha_sq_up_(alpha == 1.0 ? 1.0 : alpha * alpha * (1.0 + SCALE_MARGIN)),
          alpha_sq_down_(alpha == 1.0 ? 1.0 : alpha * alpha * (1.0 - SCALE_MARGIN)),
          scratch_(threads),
          tables_(threads) {}

    void compute_min_core(std::span<const double> position_core,
                          std::vector<double>& node_min_core) {
        node_min_core.assign(tree_.nodes.size(), INF);
        smallest_per_node(tree_, position_core, node_min_core, 0, tree_.nodes.size());
        floor_.resize(tree_.n_points);
        for (std::size_t p = 0; p < tree_.n_points; ++p) {
            const double core_sq = position_core[p];
            floor_[p] = std::isnan(core_sq) ? -INF : core_sq * alpha_sq_down_;
        }
    }

    void summarise(BoruvkaSearchState<>& state, std::span<const BoruvkaCandidate>,
                   std::vector<double>&) {
        const std::size_t nodes = tree_.nodes.size();
        state.node_component.assign(nodes, NO_COMPONENT);
        label_nodes(tree_, state.position_component, state.node_component, 0, nodes);
    }

    void search(const BoruvkaSearchState<>& state, std::vector<BoruvkaCandidate>& candidates,
                std::span<double>) {
        const std::size_t count = candidates.size();
        shared_.resize(count);
        for (std::size_t c = 0; c < count; ++c)
            shared_[c] = candidates[c].weight;
        for (auto& table : tables_)
            table = candidates;
        const SearchInputs in{tree_, state, floor_, alpha_sq_up_, shared_};
        run_task_queue(
            context_, workers_, tree_.blocks(), [&](std::size_t worker, std::size_t block) {
                CheapestEdges edges(in, tables_[worker]);
                const std::size_t first = tree_.block_start[block];
                edges.start(first, tree_.block_end(block) - first);
                search_block(tree_, tree_query_block(tree_, block), edges, scratch_[worker]);
            });
        for (const auto& table : tables_) {
            for (std::size_t c = 0; c < count; ++c) {
                if (cheaper(table[c], candidates[c])) candidates[c] = table[c];
            }
        }
    }

    // Once the components are few, a Boruvka iteration costs nearly a pass over all block
    // pairs (in many columns the balls' gaps prune little between large components) and
    // at best halves the components. One pass instead finds the cheapest edge between
    // every two components, meeting each block pair once. Each component pair has a bound,
    // shared by the workers and lowered by every edge found and, with alpha = 1, by the
    // screen's upper bounds; a pair of rows is skipped only when it weighs strictly more
    // than its components' bound, so every cheapest edge is still met. A block pair within
    // one component is skipped, and one between two components is pruned when its balls'
    // gap and smallest core distances cannot beat their bound and screened against it
    // otherwise; a block that spans components is screened row pair by row pair. Each
    // worker keeps a private table of candidates, merged under (weight, from, to)
    // afterwards, so the result does not depend on the timing.
    bool every_component_pair(const BoruvkaSearchState<>& state, std::size_t count,
                              std::vector<boruvka_detail::BatchEntry>& entries) {
        if (count > PAIR_TABLE_COMPONENTS || tree_.dims < PAIR_TABLE_MIN_DIMS) return false;
        const std::size_t blocks = tree_.blocks();
        const std::vector<std::size_t>& component = state.position_component;
        std::vector<std::size_t> block_component(blocks);
        for (std::size_t b = 0; b < blocks; ++b)
            block_component[b] = state.node_component[tree_.block_node[b]];
        const std::size_t cells = count * count;
        std::vector<double> shared(cells, INF);
        for (auto& table : pair_tables_)
            table.assign(cells, BoruvkaCandidate{});
        const bool tighten = alpha_sq_up_ == 1.0;
        const MutualReachabilitySq& mr = state.mutual_reachability;
        const double* core_sq = state.position_core.data();
        const GramScreen& screen = tree_.screen;
        run_task_queue(context_, workers_, blocks, [&](std::size_t worker, std::size_t a) {
            std::vector<BoruvkaCandidate>& table = pair_tables_[worker];
            ScreenScratch& scratch = scratch_[worker].screen;
            std::vector<double> query_threshold(GramScreen::MAX_BLOCK_ROWS);
            std::vector<double> reference_threshold(GramScreen::MAX_BLOCK_ROWS);
            const auto cell_of = [count](std::size_t x, std::size_t y) {
                return std::min(x, y) * count + std::max(x, y);
            };
            const auto bound = [&](std::size_t cell) {
                return std::min(table[cell].weight, load(shared[cell]));
            };
            // The exact weight of an open pair against its cell's bound.
            const auto settle = [&](std::size_t p, std::size_t q, std::size_t cell) {
                const double most = bound(cell);
                const double core = max_ignoring_nan(core_sq[p], core_sq[q]);
                if (!(core <= most)) return;
                double d_sq = 0.0;
                if (!squared_distance_unless<DYNAMIC_DIMS>(
                        tree_.row(p), tree_.row(q), tree_.dims,
                        [&](double partial) { return mr(core, partial) > most; }, d_sq)) {
                    return;
                }
                const BoruvkaCandidate edge{mr(core, d_sq), p, q};
                if (edge.weight <= most && cheaper(edge, table[cell])) {
                    table[cell] = edge;
                    lower(shared[cell], edge.weight);
                }
            };
            const std::size_t first_a = tree_.block_start[a];
            const std::size_t rows_a = tree_.block_end(a) - first_a;
            const std::size_t node_a = tree_.block_node[a];
            const std::size_t ca = block_component[a];
            for (std::size_t b = ca == NO_COMPONENT ? a : a + 1; b < blocks; ++b) {
                context_.check_every(b);
                const std::size_t cb = block_component[b];
                const std::size_t first_b = tree_.block_start[b];
                const std::size_t rows_b = tree_.block_end(b) - first_b;
                const BlockPair pair{&screen, a, first_a, rows_a, &screen, b, first_b, rows_b};
                if (ca == NO_COMPONENT || cb == NO_COMPONENT) {
                    block_dots(pair, scratch);
                    open_mixed_pairs(pair, state, scratch, shared, cell_of, bound, settle);
                    continue;
                }
                if (ca == cb) continue;
                const std::size_t cell = cell_of(ca, cb);
                const std::size_t node_b = tree_.block_node[b];
                const double gap = tree_.distance_floor(node_a, node_b);
                const double node_core =
                    max_ignoring_nan(state.node_min_core[node_a], state.node_min_core[node_b]);
                const double limit = bound(cell);
                if (mr(node_core, gap * gap) > limit) continue;
                std::fill_n(query_threshold.begin(), rows_a,
                            tighten ? limit : limit * alpha_sq_up_);
                std::fill_n(reference_threshold.begin(), rows_b, -INF);
                block_dots(pair, scratch);
                const std::size_t open = screen_grouped_pair(pair,
                                                             {{query_threshold.data(), rows_a},
                                                              {component.data() + first_a, rows_a},
                                                              {floor_.data() + first_a, rows_a}},
                                                             {{reference_threshold.data(), rows_b},
                                                              {component.data() + first_b, rows_b},
                                                              {floor_.data() + first_b, rows_b}},
                                                             tighten, scratch, 0);
                if (tighten) {
                    lower(shared[cell], *std::min_element(query_threshold.begin(),
                                                          query_threshold.begin() +
                                                              static_cast<std::ptrdiff_t>(rows_a)));
                }
                for (std::size_t t = 0; t < open; ++t) {
                    settle(first_a + scratch.open[t].query, first_b + scratch.open[t].reference,
                           cell);
                }
            }
        });
        for (std::size_t cell = 0; cell < cells; ++cell) {
            BoruvkaCandidate best;
            for (const auto& table : pair_tables_) {
                if (cheaper(table[cell], best)) best = table[cell];
            }
            if (!(best.weight < INF)) continue;
            entries.push_back({std::sqrt(best.weight), tree_.indices[best.from],
                               tree_.indices[best.to], component[best.from], component[best.to]});
        }
        return true;
    }

  private:
    // Components up to which every_component_pair keeps a table per component pair.
    static constexpr std::size_t PAIR_TABLE_COMPONENTS = 256;
    // Columns from which it does: below, the balls still prune well between components
    // and the iterations cost less than its pass over every block pair (the spanning tree
    // of blobs with noise, measured both ways: 3 times slower at 20 columns and 100 000
    // points, 3.5 times at 32 columns and 50 000 points, even at 50 and 64 columns, 1.7
    // to 3.5 times faster from 96 to 512 columns).
    static constexpr std::size_t PAIR_TABLE_MIN_DIMS = 64;

    // The row pairs of a block pair that spans components (within block a == b, each pair
    // once), screened against their own component pair's bound with the same lower and
    // upper bounds as screen_grouped_pair, on the dot products that block_dots left.
    template <class CellOf, class Bound, class Settle>
    void open_mixed_pairs(const BlockPair& pair, const BoruvkaSearchState<>& state,
                          const ScreenScratch& scratch, std::span<double> shared,
                          const CellOf& cell_of, const Bound& bound, const Settle& settle) const {
        const GramScreen& screen = *pair.query_screen;
        const double two_scale = 2.0 * screen.dot_scale;
        const bool tighten = alpha_sq_up_ == 1.0;
        const std::vector<std::size_t>& component = state.position_component;
        const bool same_block = pair.query_block == pair.reference_block;
        for (std::size_t i = 0; i < pair.query_rows; ++i) {
            const std::size_t p = pair.query_first + i;
            const float* dots = scratch.dots.data() + i * scratch.stride;
            for (std::size_t j = same_block ? i + 1 : 0; j < pair.reference_rows; ++j) {
                const std::size_t q = pair.reference_first + j;
                if (component[p] == component[q]) continue;
                const std::size_t cell = cell_of(component[p], component[q]);
                const double f = std::max(floor_[p], floor_[q]);
                const double g = two_scale * static_cast<double>(dots[j]);
                double t = bound(cell);
                if (tighten) {
                    const double w =
                        std::max((screen.upper_offset[p] + screen.upper_offset[q]) - g, f);
                    if (w < t) {
                        lower(shared[cell], w);
                        t = w;
                    }
                } else {
                    t *= alpha_sq_up_;
                }
                const double l = (screen.offset[p] + screen.offset[q]) - g;
                if (f > t || (l > t && l < INF)) continue;
                settle(p, q, cell);
            }
        }
    }

    const BlockTree& tree_;
    const ExecutionContext& context_;
    std::size_t workers_;
    double alpha_sq_up_;
    double alpha_sq_down_;
    std::vector<double> floor_;
    std::vector<BlockSearchScratch> scratch_;
    std::vector<std::vector<BoruvkaCandidate>> tables_;
    std::vector<std::vector<BoruvkaCandidate>> pair_tables_ =
        std::vector<std::vector<BoruvkaCandidate>>(workers_);
    std::vector<double> shared_;
};

}  // namespace

std::vector<MstEdge> blocked_boruvka(const BlockTree& tree, std::span<const double> core_distances,
                                     NeighbourLists neighbors, std::size_t neighbors_per_point,
                                     double alpha, const ExecutionContext& context) {
    const std::size_t n = tree.n_points;
    if (core_distances.size() != n ||
        (!neighbors.rows.empty() && neighbors.rows.size() != n * neighbors_per_point)) {
        fail_internal("blocked_boruvka: " + std::to_string(core_distances.size()) +
                      " core distances and " + std::to_string(neighbors.rows.size()) +
                      " neighbours for " + std::to_string(n) + " points");
    }
    if (n <= 1) return {};
    return boruvka_detail::BoruvkaRun<BlockTree>(tree, SquaredEuclideanSpace{}, core_distances,
                                                 alpha, context)
        .run(std::move(neighbors), neighbors_per_point,
             [&](std::size_t workers, const ExecutionContext& run_context) {
                 return BlockedSearch(tree, alpha, workers, run_context);
             });
}

}  // namespace corvane
