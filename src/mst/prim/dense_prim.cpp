#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "distance/distance_order.hpp"
#include "mst/mutual_reachability.hpp"
#include "mst/prim/dense_core_distances.hpp"
#include "mst/prim/prim.hpp"
#include "mst/prim/prim_internal.hpp"
#include "parallel/lockstep.hpp"

namespace corvane {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Prim on the complete mutual-reachability graph, evaluating each pair once,
// when the later of its two vertices joins. pair_distance(lo, hi) is called
// with lo < hi, and the lower-numbered point is the outer operand of the
// maximum, so every weight equals the one a stored symmetric matrix would
// hold.
//
// The remaining vertices sit in fixed blocks of positions, each compacted in
// place as vertices leave, so that the blocks taken in order list them
// ascending. Worker w of `workers` updates blocks w, w + workers, ... for the
// vertex that joined last, every vertex's update depending on that vertex
// alone, and reports the lowest-numbered vertex of strictly smallest weight
// among its blocks; the lowest-numbered of those among the workers' picks is
// the vertex a single ascending scan would take. The workers run in lockstep,
// one round per joining vertex, until fewer vertices remain than make a round
// worth sharing; the rest run on the calling thread.
template <class PairDistance>
class DensePrim {
  public:
    DensePrim(std::span<const double> core, double alpha, const PairDistance& pair_distance)
        : core_(core), alpha_(alpha), pair_distance_(pair_distance) {}

    std::vector<MstEdge> run(const ExecutionContext& context) {
        const std::size_t threads = context.threads();
        const std::size_t n = core_.size();
        if (n <= 1) return {};
        vertex_.resize(n - 1);
        best_.assign(n - 1, infinity);
        nearest_.assign(n - 1, 0);
        for (std::size_t j = 1; j < n; ++j)
            vertex_[j - 1] = j;
        for (std::size_t start = 0; start < n - 1; start += BLOCK)
            blocks_.push_back({start, std::min(BLOCK, n - 1 - start)});
        edges_.reserve(n - 1);

        if (threads >= 2 && n - 1 >= PARALLEL_MIN_REMAINING)
            workers_ = std::min(threads, blocks_.size());
        passes_.assign(workers_, {});
        if (workers_ >= 2) {
            SharingMonitor monitor;
            run_lockstep(
                context, workers_,
                [&](std::size_t w) {
                    if (w == 0) {
                        monitor.time_own_share([this] { pass(0); });
                    } else {
                        pass(w);
                    }
                },
                [&] {
                    return choose_next() && remaining_ >= PARALLEL_MIN_REMAINING &&
                           monitor.still_pays(workers_);
                });
            if (edges_.size() == n - 1) return std::move(edges_);
            workers_ = 1;
        }
        run_lockstep(
            context, 1, [this](std::size_t w) { pass(w); }, [this] { return choose_next(); });
        return std::move(edges_);
    }

  private:
    // Tells whether sharing the rounds still pays. Over each window of rounds
    // it compares their wall time with the time worker 0 spent on its own
    // share: with shares of about equal size one thread would have needed
    // about `workers` times that. Rounds that take longer mean workers wait
    // for processors held by other processes, and the rest of the run is
    // better off on one thread. Only the speed depends on this; the tree is
    // the same whichever round the switch happens after.
    class SharingMonitor {
      public:
        template <class Share>
        void time_own_share(const Share& share) {
            const Clock::time_point start = Clock::now();
            // The first window opens with the first round, after the threads
            // have started.
            if (window_start_ == Clock::time_point{}) window_start_ = start;
            share();
            own_ += Clock::now() - start;
        }

        bool still_pays(std::size_t workers) {
            if (++rounds_ < WINDOW) return true;
            const Clock::time_point now = Clock::now();
            const bool pays = now - window_start_ < own_ * static_cast<Clock::rep>(workers);
            rounds_ = 0;
            own_ = {};
            window_start_ = now;
            return pays;
        }

      private:
        using Clock = std::chrono::steady_clock;
        static constexpr std::size_t WINDOW = 64;
        Clock::time_point window_start_{};
        Clock::duration own_{};
        std::size_t rounds_ = 0;
    };

    // Positions per block: large enough to stream through memory, small
    // enough that the cyclic assignment keeps the workers' shares even as
    // blocks drain at different rates.
    static constexpr std::size_t BLOCK = 256;
    // Below this many remaining vertices a round is too short to share: on
    // two processors sharing starts to pay at about 500 (manhattan in 3
    // columns, and precomputed, the cheapest pairs), and the margin keeps
    // short rounds from waiting on a worker that lost its processor.
    static constexpr std::size_t PARALLEL_MIN_REMAINING = 1024;
    static constexpr std::size_t NONE = std::numeric_limits<std::size_t>::max();

    // A cache line each: neighbouring blocks belong to different workers, and
    // each writes its blocks' counts in every round.
    struct alignas(64) Block {
        std::size_t start;
        std::size_t count;
    };

    struct Candidate {
        std::size_t vertex = NONE;
        std::size_t from = 0;
        double weight = infinity;
        std::size_t block = 0;
        std::size_t pos = 0;
    };

    // One worker's view after its pass. `lightest` has weight below +infinity
    // (NONE when there is none); `lowest` is the worker's lowest-numbered
    // remaining vertex whatever its weight.
    struct alignas(64) Pass {
        Candidate lightest;
        Candidate lowest;
        std::size_t remaining = 0;
    };

    void pass(std::size_t w) {
        Pass& result = passes_[w];
        result = {};
        for (std::size_t b = w; b < blocks_.size(); b += workers_) {
            if (edges_.empty()) {
                update_block<true>(b, result);
            } else {
                update_block<false>(b, result);
            }
        }
    }

    // Drops the vertex that joined last from block b and lowers every other
    // vertex's weight through it; the first pass instead sets every weight
    // from vertex 0, NaN included. Then finds the block's lightest vertex.
    // Which vertices need a distance at all is data-dependent and defeats
    // branch prediction, so they are listed first, without branches, and
    // their distances then evaluated in a loop of their own.
    template <bool first>
    void update_block(std::size_t b, Pass& result) {
        // Locals, so that the stores into the arrays cannot make the compiler
        // reload anything inside the loops.
        std::size_t* __restrict vertex = vertex_.data();
        double* __restrict best = best_.data();
        std::size_t* __restrict nearest = nearest_.data();
        const double* __restrict core = core_.data();
        const PairDistance& pair_distance = pair_distance_;
        const double alpha = alpha_;
        const std::size_t v = joined_;
        const double core_v = core[v];

        Block& block = blocks_[b];
        const std::size_t start = block.start;
        std::size_t end = start + block.count;
        if (first) {
            for (std::size_t pos = start; pos < end; ++pos) {
                const std::size_t u = vertex[pos];
                best[pos] = mutual_reachability(core_v, core[u], pair_distance(0, u), alpha);
            }
        } else {
            if (b == joined_block_) {
                const std::size_t from = joined_pos_ + 1;
                std::copy(vertex + from, vertex + end, vertex + from - 1);
                std::copy(best + from, best + end, best + from - 1);
                std::copy(nearest + from, nearest + end, nearest + from - 1);
                --end;
            }
            // A weight is at least each of its non-NaN core terms, so when one
            // already reaches the current weight the distance is not needed.
            std::array<std::uint32_t, BLOCK> open;
            std::size_t opened = 0;
            for (std::size_t pos = start; pos < end; ++pos) {
                const double weight = best[pos];
                open[opened] = static_cast<std::uint32_t>(pos - start);
                opened +=
                    static_cast<std::size_t>(!(core_v >= weight) & !(core[vertex[pos]] >= weight));
            }
            std::array<double, BLOCK> distance;
            for (std::size_t o = 0; o < opened; ++o) {
                const std::size_t u = vertex[start + open[o]];
                distance[o] = u < v ? pair_distance(u, v) : pair_distance(v, u);
            }
            for (std::size_t o = 0; o < opened; ++o) {
                const std::size_t pos = start + open[o];
                const std::size_t u = vertex[pos];
                const double w = u < v ? mutual_reachability(core[u], core_v, distance[o], alpha)
                                       : mutual_reachability(core_v, core[u], distance[o], alpha);
                if (distance_less(w, best[pos])) {
                    best[pos] = w;
                    nearest[pos] = v;
                }
            }
        }
        block.count = end - start;
        result.remaining += block.count;
        if (start == end) return;
        if (result.lowest.vertex == NONE) {
            result.lowest = {vertex[start], nearest[start], best[start], b, start};
        }
        std::size_t lightest = NONE;
        double lightest_weight = result.lightest.weight;
        for (std::size_t pos = start; pos < end; ++pos) {
            if (best[pos] < lightest_weight) {
                lightest_weight = best[pos];
                lightest = pos;
            }
        }
        if (lightest != NONE) {
            result.lightest = {vertex[lightest], nearest[lightest], best[lightest], b, lightest};
        }
    }

    // Combines the passes, emits the edge of the next vertex and makes it the
    // one the next pass drops. Returns whether vertices remain.
    bool choose_next() {
        Candidate next;
        Candidate lowest;
        remaining_ = 0;
        for (std::size_t w = 0; w < workers_; ++w) {
            const Pass& p = passes_[w];
            remaining_ += p.remaining;
            const Candidate& c = p.lightest;
            if (c.vertex != NONE &&
                (c.weight < next.weight || (c.weight == next.weight && c.vertex < next.vertex))) {
                next = c;
            }
            if (p.lowest.vertex < lowest.vertex) lowest = p.lowest;
        }
        if (remaining_ == 0) fail_internal("no remaining vertex to join the tree");
        // With no weight below +infinity (a graph disconnected at finite
        // weights) the lowest-numbered remaining vertex joins next.
        if (next.vertex == NONE) next = lowest;
        edges_.push_back({next.from, next.vertex, next.weight});
        joined_ = next.vertex;
        joined_block_ = next.block;
        joined_pos_ = next.pos;
        --remaining_;
        return remaining_ > 0;
    }

    std::span<const double> core_;
    double alpha_;
    const PairDistance& pair_distance_;

    // Remaining vertices and, at the same positions, their lightest known
    // edge to the tree: weight and tree vertex.
    std::vector<std::size_t> vertex_;
    std::vector<double> best_;
    std::vector<std::size_t> nearest_;
    std::vector<Block> blocks_;
    std::vector<Pass> passes_;
    std::vector<MstEdge> edges_;
    std::size_t workers_ = 1;
    std::size_t remaining_ = 0;
    // The vertex that joined last and the position it occupied; vertex 0
    // during the first pass, the one before any edge exists.
    std::size_t joined_ = 0;
    std::size_t joined_block_ = 0;
    std::size_t joined_pos_ = 0;
};

template <class PairDistance>
std::vector<MstEdge> dense_prim(std::span<const double> core, double alpha,
                                const PairDistance& pair_distance,
                                const ExecutionContext& context) {
    return DensePrim<PairDistance>(core, alpha, pair_distance).run(context);
}

}  // namespace

MstResult prim_dense_mst(const DataMatrix& data, const Metric& metric, std::size_t k, double alpha,
                         const ExecutionContext& context, StageClock* clock) {
    const std::size_t n = data.rows;
    MstResult result;
    if (n == 0) return result;
    prim_detail::check_neighbour_count(k, n);
    result.core_distances.assign(n, 0.0);

    if (metric.kind == MetricKind::Precomputed) {
        if (data.cols != n) fail_internal("precomputed distance matrix is not square");
        const double* matrix = data.values.data();
        prim_detail::row_core_distances(
            n, k, context, [&](std::size_t i, std::size_t j) { return matrix[i * n + j]; },
            result.core_distances);
        lap(clock, &StageTimes::core_distances);
        result.edges = dense_prim(
            result.core_distances, alpha,
            [&](std::size_t lo, std::size_t hi) { return matrix[lo * n + hi]; }, context);
        return result;
    }

    visit_metric(metric, [&](auto kernel) {
        // Every kernel is exactly symmetric, so one evaluation serves both rows.
        if (k <= prim_detail::PAIRWISE_MAX_K) {
            prim_detail::pairwise_core_distances(data, k, kernel, context, result.core_distances);
        } else {
            prim_detail::row_core_distances(
                n, k, context,
                [&](std::size_t i, std::size_t j) {
                    return i == j ? 0.0 : kernel(data.row_span(i), data.row_span(j));
                },
                result.core_distances);
        }
        lap(clock, &StageTimes::core_distances);
        result.edges = dense_prim(
            result.core_distances, alpha,
            [&](std::size_t lo, std::size_t hi) {
                return kernel(data.row_span(lo), data.row_span(hi));
            },
            context);
    });
    return result;
}

}  // namespace corvane
