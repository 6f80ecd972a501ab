#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/compact_edges.hpp"
#include "common/index_array.hpp"
#include "common/internal_error.hpp"
#include "common/mst_edge.hpp"
#include "knn_heap/neighbour_lists.hpp"
#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "mst/dual_tree_boruvka/dual_tree_search.hpp"
#include "mst/mutual_reachability.hpp"
#include "parallel/checked_sort.hpp"
#include "parallel/execution_context.hpp"
#include "parallel/page_faults.hpp"
#include "parallel/parallel.hpp"
#include "parallel/weight_sort.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/input_order.hpp"
#include "union_find/concurrent_union_find.hpp"

namespace corvane::boruvka_detail {

// The Boruvka scheme shared by the dual-tree and the blocked searches: seeding from
// neighbour lists, merging batches of candidates, renumbering components, and the
// iterations, each of which asks the search for every component's cheapest outgoing edge.
inline constexpr double INFINITE_WEIGHT = std::numeric_limits<double>::infinity();

// How far ahead scattered reads are prefetched: batch entries of the merge walk (their
// union-find entries), points of the neighbour-pair offers.
inline constexpr std::size_t PREFETCH_AHEAD = 8;

// Sorted runs a batch is collected in at most; the merge walk picks the smallest head of
// all runs for every entry.
inline constexpr std::size_t MAX_BATCH_RUNS = 8;

// One candidate offered to a merge batch. `weight` is in search units (squared for
// Euclidean data) in the seeding batches and a true distance in the search batches; `from`
// and `to` are input row numbers, `component` and `other` the components of the two ends.
struct BatchEntry {
    double weight;
    std::size_t from;
    std::size_t to;
    std::size_t component;
    std::size_t other;
};

inline bool batch_less(const BatchEntry& a, const BatchEntry& b) {
    return std::tie(a.weight, a.from, a.to) < std::tie(b.weight, b.from, b.to);
}

// One candidate of a batch collected from the candidate table, which stays unchanged
// until the merge has walked the batch: `weight` and `from` (the input row) order the
// batch and `component` names the table entry that holds the rest. Every component offers
// at most one candidate and its `from` lies inside the component, so no two keys share
// (weight, from) and the order is the one of batch_less over full entries. `Index` is
// 32-bit wherever n allows: the first seeding batch holds nearly every point.
template <class Index>
struct BatchKey {
    double weight;
    Index from;
    Index component;
};

template <class Index>
bool batch_less(const BatchKey<Index>& a, const BatchKey<Index>& b) {
    return std::tie(a.weight, a.from) < std::tie(b.weight, b.from);
}

// A neighbour pair offered to an entry owned by another seeding chunk.
struct Offer {
    std::size_t entry;
    double weight;
    std::size_t to;
};

// A bound offered to component `component` by a chunk that does not own its entry.
struct BoundOffer {
    std::size_t component;
    BoruvkaCandidate bound;
};

// Components are numbered 0 .. C-1 in the order of their smallest tree positions, so
// that numbering depends only on which points have merged, never on the order of the
// merges or on the thread count. Each component has one candidate entry; every point
// knows its component through `position_component` (from the
// first merge on: before it, point p is component p). After each
// merge the surviving components are renumbered, so all per-component work is
// proportional to the number of components, and the passes over all points run over
// threads. Distances, core distances and weights are in the search units of `Space`
// (search_space/search_space.hpp), whose tree `tree` is.
template <class Tree, class Space = SquaredEuclideanSpace>
class BoruvkaRun {
  public:
    BoruvkaRun(const Tree& tree, const Space& space, std::span<const double> core_distances,
               double alpha, const ExecutionContext& context)
        : tree_(tree),
          context_(context),
          n_(tree.n_points),
          threads_(context.threads() >= 2 && n_ >= PARALLEL_MIN_ROWS && !tree.nodes.front().is_leaf
                       ? context.threads()
                       : 1),
          state_{space, {}, {}, {}, {}, Space::reachability(alpha)},
          components_(n_),
          edges_(n_, n_ - 1) {
        state_.position_core.resize(n_);
        for_rows(n_, [&](std::size_t p) {
            state_.position_core[p] = space.core_units(core_distances[tree.indices[p]]);
        });
    }

    // `make_search(threads, context)` gives the search of the iterations (see iterate),
    // made only when seeding leaves more than one component.
    template <class MakeSearch>
    std::vector<MstEdge> run(NeighbourLists neighbors, std::size_t per_point,
                             const MakeSearch& make_search) {
        if (neighbors.rows.empty() || per_point == 0) {
            candidates_.resize(n_);
        } else {
            seed_weight_.assign(n_, INFINITE_WEIGHT);
            seed_to_.assign(n_, 0);
            offer_neighbour_pairs(neighbors, per_point);
        }
        release(neighbors.rows);
        // Until the first merge every point is its own component, numbered by its tree
        // position, and no numbers are stored: the first batch, the largest, and its
        // renumbering then hold one array of numbers the fewer.
        while (components_ > 1 && merge_candidates(true) > 0) {
        }
        if (components_ > 1) {
            if (seeded()) {
                // Seeding merged nothing: the search takes the table in full.
                candidates_.resize(n_);
                for_rows(n_, [&](std::size_t c) { candidates_[c] = candidate(c); });
                release(seed_weight_);
                release(seed_to_);
            }
            if (!numbered()) {
                state_.position_component.resize(n_);
                for_rows(n_, [&](std::size_t p) { state_.position_component[p] = p; });
            }
            auto search = make_search(threads_, context_);
            iterate(search);
        }
        // The tables go before the edges are widened, which holds both forms at once.
        release(state_.position_core);
        release(state_.position_component);
        release(state_.node_min_core);
        release(state_.node_component);
        release(candidates_);
        release(node_bound_);
        return std::move(edges_).widened();
    }

  private:
    template <class T>
    static void release(std::vector<T>& values) {
        std::vector<T>().swap(values);
    }

    // Runs body(i) for every i in [0, count), over the threads in contiguous chunks.
    template <class Body>
    void for_rows(std::size_t count, const Body& body) {
        for_each_row_chunk(context_, count, [&](RowChunk chunk) {
            for (std::size_t i = chunk.start; i < chunk.end; ++i)
                body(i);
        });
    }

    // Runs body(j) for every j in [0, count), the threads claiming them in turn: for passes
    // over chunks or slices that keep results of their own.
    template <class Body>
    void for_parts(std::size_t count, const Body& body) {
        run_task_queue(context_, threads_, count, [&](std::size_t, std::size_t j) { body(j); });
    }

    // Whether the components are numbered in position_component; before the first merge
    // they are not, and point p is component p.
    bool numbered() const { return !state_.position_component.empty(); }

    std::size_t component_of(std::size_t p) const {
        return numbered() ? state_.position_component[p] : p;
    }

    // Whether the candidates are still the seed table of the neighbour pairs, one per
    // point, rather than candidates_.
    bool seeded() const { return !seed_weight_.empty(); }

    std::size_t table_size() const { return seeded() ? seed_weight_.size() : candidates_.size(); }

    BoruvkaCandidate candidate(std::size_t c) const {
        if (seeded()) return {seed_weight_[c], c, seed_to_[c]};
        return candidates_[c];
    }

    void prefetch_candidate(std::size_t c) const {
        if (seeded()) {
            __builtin_prefetch(&seed_weight_[c]);
            __builtin_prefetch(&seed_to_[c]);
        } else {
            __builtin_prefetch(&candidates_[c]);
        }
    }

    // Marks component c's candidate as unknown.
    void drop_candidate(std::size_t c) {
        if (seeded()) {
            seed_weight_[c] = INFINITE_WEIGHT;
        } else {
            candidates_[c].weight = INFINITE_WEIGHT;
        }
    }

    double pair_weight(std::size_t p, std::size_t q) const {
        const double d = state_.space.pair(tree_, p, q);
        const std::vector<double>& core = state_.position_core;
        return state_.mutual_reachability(max_ignoring_nan(core[p], core[q]), d);
    }

    // No edge at position p weighs less than mr with p's core and a zero distance, since
    // mr grows with both the core term and the distance.
    double seed_floor(std::size_t p) const {
        return state_.mutual_reachability(state_.position_core[p], 0.0);
    }

    // Offers every neighbour pair to the entries of both its ends; every point is still its
    // own component, numbered by its tree position. An entry keeps the cheapest pair
    // offered, among equal weights the one whose other end comes first in the tree, so the
    // result does not depend on the order of the offers. Each chunk owns the entries of a
    // contiguous range of tree positions, where neighbours mostly lie; offers to entries
    // of other chunks are applied after the join.
    void offer_neighbour_pairs(const NeighbourLists& neighbors, std::size_t per_point) {
        if (per_point == 0) return;
        // Lists by tree position are read in order; lists by input row are translated.
        const bool by_position = neighbors.naming == ListNaming::tree_positions;
        // Lists exist only for n within NeighbourRow, so positions fit it too.
        const std::vector<NeighbourRow> position_of =
            by_position ? std::vector<NeighbourRow>()
                        : input_row_positions<NeighbourRow>(tree_, context_);
        const auto offer = [&](std::size_t p, double weight, std::size_t q) {
            double& best = seed_weight_[p];
            NeighbourRow& to = seed_to_[p];
            if (weight < best || (weight == best && q < to)) {
                best = weight;
                to = static_cast<NeighbourRow>(q);
            }
        };
        const std::vector<RowChunk> chunks = balanced_chunks(n_, threads_);
        std::vector<std::vector<Offer>> foreign(chunks.size());
        for_parts(chunks.size(), [&](std::size_t c) {
            const RowChunk chunk = chunks[c];
            // Lists by input row and the positions they name are scattered: lists are
            // fetched two prefetch distances ahead, the positions one distance ahead.
            const auto list_of = [&](std::size_t p) {
                return neighbors.rows.data() + (by_position ? p : tree_.indices[p]) * per_point;
            };
            for (std::size_t p = chunk.start; p < chunk.end; ++p) {
                context_.check_every(p, 1024);
                if (!by_position) {
                    if (p + 2 * PREFETCH_AHEAD < chunk.end) {
                        __builtin_prefetch(list_of(p + 2 * PREFETCH_AHEAD));
                    }
                    if (p + PREFETCH_AHEAD < chunk.end) {
                        const NeighbourRow* later = list_of(p + PREFETCH_AHEAD);
                        for (std::size_t e = 0; e < per_point; ++e) {
                            if (later[e] < n_) __builtin_prefetch(&position_of[later[e]]);
                        }
                    }
                }
                const std::size_t self = by_position ? p : tree_.indices[p];
                const NeighbourRow* list = list_of(p);
                for (std::size_t e = 0; e < per_point; ++e) {
                    if (list[e] == self || list[e] >= n_) continue;
                    const std::size_t q = by_position ? list[e] : position_of[list[e]];
                    const double weight = pair_weight(p, q);
                    offer(p, weight, q);
                    if (q >= chunk.start && q < chunk.end) {
                        offer(q, weight, p);
                    } else {
                        foreign[c].push_back({q, weight, p});
                    }
                }
            }
        });
        for (const std::vector<Offer>& offers : foreign) {
            for (const Offer& o : offers)
                offer(o.entry, o.weight, o.to);
        }
    }

    // The candidates offered to a merge, as sorted runs, one per chunk of components. A
    // seeding batch takes a pair only when it weighs exactly the floor of its `from`
    // point: it is then the cheapest edge at that point, and every point owns at most one
    // such edge, so any acyclic set of them lies in a minimum spanning tree. Any other
    // neighbour pair can be beaten by a cheaper pair outside the lists; it stays a
    // candidate (an upper bound) for the first search instead.
    // Whether component c offers its candidate to the batch.
    bool offered(std::size_t c, bool seeding) const {
        const BoruvkaCandidate candidate = this->candidate(c);
        const double w = candidate.weight;
        if (w == INFINITE_WEIGHT || std::isnan(w)) return false;
        if (seeding && !(w <= seed_floor(candidate.from))) return false;
        return component_of(candidate.to) != c;
    }

    // Component c's candidate as a batch key.
    template <class Index>
    BatchKey<Index> batch_key(std::size_t c, bool seeding) const {
        const BoruvkaCandidate candidate = this->candidate(c);
        const double w = candidate.weight;
        return {seeding ? w : Space::to_distance(w),
                static_cast<Index>(tree_.indices[candidate.from]), static_cast<Index>(c)};
    }

    template <class Index>
    std::vector<std::vector<BatchKey<Index>>> collect_batch(bool seeding) {
        const std::size_t count = table_size();
        const std::vector<RowChunk> chunks =
            threads_ >= 2 && count >= PARALLEL_MIN_ROWS
                ? split_rows(count, std::min(threads_, MAX_BATCH_RUNS))
                : std::vector<RowChunk>{{0, count}};
        std::vector<std::vector<BatchKey<Index>>> runs(chunks.size());
        run_tasks(context_, chunks.size(), [&](std::size_t r) {
            const RowChunk chunk = chunks[r];
            // Counted first: the first seeding batch holds most points.
            std::size_t length = 0;
            for (std::size_t c = chunk.start; c < chunk.end; ++c) {
                context_.check_every(c);
                length += offered(c, seeding) ? 1 : 0;
            }
            std::vector<BatchKey<Index>>& run = runs[r];
            run.reserve(length);
            for (std::size_t c = chunk.start; c < chunk.end; ++c) {
                context_.check_every(c);
                if (offered(c, seeding)) run.push_back(batch_key<Index>(c, seeding));
            }
            // Lambdas rather than the function's address, so that the sort inlines them.
            weight_sort(
                context_, run.begin(), run.end(),
                [](const BatchKey<Index>& key) { return key.weight; },
                [](const BatchKey<Index>& a, const BatchKey<Index>& b) {
                    return batch_less(a, b);
                });
        });
        return runs;
    }

    // Collects the candidates and merges them, with the narrowest keys n allows.
    std::size_t merge_candidates(bool seeding) {
        if (narrow_indices_fit(n_)) return merge(collect_batch<std::uint32_t>(seeding), seeding);
        return merge(collect_batch<std::size_t>(seeding), seeding);
    }

    // Adds the candidates of a batch that the walk in ascending (weight, from, to) would
    // add, without walking: every component offers at most one candidate, so each
    // connected piece of the batch's edges holds at most one cycle, and the walk adds
    // every edge but the largest on that cycle. The runs join their edges' components in
    // parallel; the one join per cycle that finds both ends joined already walks the
    // cycle and rejects its largest key. Which join that is varies; the cycle and its
    // largest key do not. Then renumbers the components and hands the leftover
    // candidates up. Returns the number of edges added.
    template <class Index>
    std::size_t merge(std::vector<std::vector<BatchKey<Index>>> runs, bool seeding) {
        const std::size_t count = table_size();
        ConcurrentUnionFind<Index> sets(count);
        // One flag per component: set on the component whose key is the largest of its cycle.
        std::vector<unsigned char> rejected(count, 0);
        run_tasks(context_, runs.size(), [&](std::size_t r) {
            const std::vector<BatchKey<Index>>& run = runs[r];
            for (std::size_t at = 0; at < run.size(); ++at) {
                context_.check_every(at);
                // A key is read in steps, each needing the one before: its candidate,
                // then the component of the candidate's far end, then the sets.
                if (at + 2 * PREFETCH_AHEAD < run.size()) {
                    prefetch_candidate(run[at + 2 * PREFETCH_AHEAD].component);
                }
                if (at + PREFETCH_AHEAD < run.size()) {
                    const std::size_t c = run[at + PREFETCH_AHEAD].component;
                    sets.prefetch(c);
                    if (numbered()) __builtin_prefetch(&state_.position_component[candidate(c).to]);
                }
                const std::size_t c = run[at].component;
                if (!sets.unite(c, component_of(candidate(c).to))) {
                    rejected[largest_on_cycle<Index>(c, count, seeding)] = 1;
                }
            }
        });
        // Each run drops its rejected keys; the others name their far end's row from here
        // on, all the edge needs.
        run_tasks(context_, runs.size(), [&](std::size_t r) {
            std::vector<BatchKey<Index>>& run = runs[r];
            std::size_t kept = 0;
            for (std::size_t at = 0; at < run.size(); ++at) {
                context_.check_every(at);
                if (at + 2 * PREFETCH_AHEAD < run.size()) {
                    prefetch_candidate(run[at + 2 * PREFETCH_AHEAD].component);
                }
                if (at + PREFETCH_AHEAD < run.size()) {
                    __builtin_prefetch(
                        &tree_.indices[candidate(run[at + PREFETCH_AHEAD].component).to]);
                }
                const std::size_t c = run[at].component;
                if (rejected[c] != 0) continue;
                run[kept] = run[at];
                run[kept++].component = static_cast<Index>(tree_.indices[candidate(c).to]);
            }
            run.resize(kept);
        });
        release(rejected);
        const std::size_t added = append_edges(runs, seeding);
        release(runs);
        components_ -= added;
        if (added > 0 && components_ > 1) renumber(std::move(sets));
        return added;
    }

    // The component whose key is the largest, as batch_less orders keys, on the cycle of
    // the batch's edges through component c's edge.
    template <class Index>
    std::size_t largest_on_cycle(std::size_t c, std::size_t count, bool seeding) const {
        std::size_t largest = c;
        BatchKey<Index> largest_key = batch_key<Index>(c, seeding);
        std::size_t steps = 0;
        for (std::size_t at = component_of(candidate(c).to); at != c;
             at = component_of(candidate(at).to)) {
            if (++steps > count || !offered(at, seeding)) {
                fail_internal("Boruvka merge: a batch cycle does not close");
            }
            const BatchKey<Index> key = batch_key<Index>(at, seeding);
            if (batch_less(largest_key, key)) {
                largest = at;
                largest_key = key;
            }
        }
        return largest;
    }

    // Appends the edges of sorted runs of keys, each naming its far end's row, in
    // ascending (weight, from) over all runs. Returns their number. The output is cut into
    // slices at keys of the longest run; each slice merges its part of every run on a
    // thread of its own, at an offset fixed by the parts before it.
    template <class Index>
    std::size_t append_edges(const std::vector<std::vector<BatchKey<Index>>>& runs, bool seeding) {
        using Key = BatchKey<Index>;
        const auto less = [](const Key& a, const Key& b) { return batch_less(a, b); };
        std::size_t added = 0;
        std::size_t longest = 0;
        for (std::size_t r = 0; r < runs.size(); ++r) {
            added += runs[r].size();
            if (runs[r].size() > runs[longest].size()) longest = r;
        }
        const std::size_t slices =
            runs.size() >= 2 && added >= PARALLEL_MIN_ROWS ? threads_ * CHUNKS_PER_WORKER : 1;
        // bounds[s * runs + r]: where slice s starts in run r.
        std::vector<std::size_t> bounds((slices + 1) * runs.size());
        for (std::size_t r = 0; r < runs.size(); ++r) {
            bounds[slices * runs.size() + r] = runs[r].size();
            for (std::size_t s = 1; s < slices; ++s) {
                const Key& cut = runs[longest][s * runs[longest].size() / slices];
                bounds[s * runs.size() + r] = static_cast<std::size_t>(
                    std::lower_bound(runs[r].begin(), runs[r].end(), cut, less) - runs[r].begin());
            }
        }
        const std::size_t first = edges_.size();
        edges_.grow(added);
        for_parts(slices, [&](std::size_t s) {
            const std::size_t* start = &bounds[s * runs.size()];
            const std::size_t* end = start + runs.size();
            std::vector<std::size_t> head(start, end);
            std::size_t at = first;
            for (std::size_t r = 0; r < runs.size(); ++r)
                at += start[r];
            for (;; ++at) {
                context_.check_every(at);
                std::optional<std::size_t> best;
                for (std::size_t r = 0; r < runs.size(); ++r) {
                    if (head[r] == end[r]) continue;
                    if (!best || less(runs[r][head[r]], runs[*best][head[*best]])) best = r;
                }
                if (!best) break;
                const Key& key = runs[*best][head[*best]++];
                edges_.set(at, {key.from, key.component,
                                seeding ? Space::to_distance(key.weight) : key.weight});
            }
        });
        return added;
    }

    // Walks the entries of one sorted batch, edges between any components, and adds every
    // entry whose ends are still apart; then renumbers the components and hands the
    // leftover candidates up. Returns the number of edges added.
    std::size_t merge(std::vector<BatchEntry> entries) {
        using Sets = ConcurrentUnionFind<std::size_t>;
        Sets sets(table_size());
        std::size_t added = 0;
        for (std::size_t at = 0; at < entries.size(); ++at) {
            context_.check_every(at);
            if (at + PREFETCH_AHEAD < entries.size()) {
                sets.prefetch(entries[at + PREFETCH_AHEAD].component);
                sets.prefetch(entries[at + PREFETCH_AHEAD].other);
            }
            const BatchEntry& e = entries[at];
            if (!sets.unite(e.component, e.other)) continue;
            edges_.push_back({e.from, e.to, e.weight});
            --components_;
            ++added;
        }
        entries.clear();
        if (added > 0 && components_ > 1) renumber(std::move(sets));
        return added;
    }

    // Numbers the merged components in the order of their smallest points (the
    // representatives of `sets`), relabels the points and builds the new candidate table:
    // a surviving representative's own candidate unless it has become internal, then in
    // order the candidates of the components it absorbed that still cross and are
    // strictly cheaper. Each pass runs over chunks of the old components; a survivor's
    // chunk owns its new entry, and later chunks hand their offers to it after the join.
    template <class Sets>
    void renumber(Sets sets) {
        const std::size_t old_count = table_size();
        const std::vector<RowChunk> chunks = balanced_chunks(old_count, threads_);
        std::vector<std::size_t> renamed;
        assign_faulted_in(context_, renamed, old_count, std::size_t{0});
        std::vector<unsigned char> survives(old_count, 0);
        // first_number[j] .. first_number[j + 1] - 1 are the new numbers of chunk j's survivors.
        std::vector<std::size_t> first_number(chunks.size() + 1, 0);
        for_parts(chunks.size(), [&](std::size_t j) {
            const RowChunk chunk = chunks[j];
            constexpr std::size_t stretch = ExecutionContext::SHORT_STEPS_PER_CHECK;
            for (std::size_t c = chunk.start; c < chunk.end; c += stretch) {
                context_.check();
                sets.representatives(chunk.start, c, std::min(chunk.end, c + stretch), renamed);
            }
            std::size_t survivors = 0;
            for (std::size_t c = chunk.start; c < chunk.end; ++c) {
                if (renamed[c] == c) {
                    survives[c] = 1;
                    ++survivors;
                }
            }
            first_number[j + 1] = survivors;
        });
        for (std::size_t j = 0; j < chunks.size(); ++j)
            first_number[j + 1] += first_number[j];
        const std::size_t count = first_number.back();
        for_parts(chunks.size(), [&](std::size_t j) {
            std::size_t number = first_number[j];
            for (std::size_t c = chunks[j].start; c < chunks[j].end; ++c) {
                if (survives[c] != 0) renamed[c] = number++;
            }
        });
        // A survivor's entry is final and never written here, so it can be read while the
        // others are rewritten.
        for_rows(old_count, [&](std::size_t c) {
            if (survives[c] == 0) renamed[c] = renamed[renamed[c]];
        });
        // Read for the last time: released before the new table is built.
        sets = Sets(0);
        std::vector<std::size_t>& component = state_.position_component;
        const bool was_numbered = numbered();
        if (was_numbered) {
            for_rows(n_, [&](std::size_t p) { component[p] = renamed[component[p]]; });
        } else {
            // Component c was point c: the new numbers are the points' numbers.
            component = std::move(renamed);
        }
        const std::vector<std::size_t>& new_number = was_numbered ? renamed : component;

        std::vector<BoruvkaCandidate> handed(count);
        for_rows(old_count, [&](std::size_t c) {
            BoruvkaCandidate own = candidate(c);
            if (own.weight != INFINITE_WEIGHT && component[own.to] == new_number[c]) {
                own.weight = INFINITE_WEIGHT;
                drop_candidate(c);
            }
            if (survives[c] != 0) handed[new_number[c]] = own;
        });
        std::vector<std::vector<std::size_t>> later(chunks.size());
        const auto hand_up = [&](std::size_t c) {
            BoruvkaCandidate& into = handed[new_number[c]];
            const BoruvkaCandidate own = candidate(c);
            if (own.weight < into.weight) into = own;
        };
        for_parts(chunks.size(), [&](std::size_t j) {
            for (std::size_t c = chunks[j].start; c < chunks[j].end; ++c) {
                context_.check_every(c);
                if (survives[c] != 0) continue;
                const std::size_t number = new_number[c];
                if (number >= first_number[j] && number < first_number[j + 1]) {
                    hand_up(c);
                } else if (candidate(c).weight < INFINITE_WEIGHT) {
                    // Only a finite weight can replace anything.
                    later[j].push_back(c);
                }
            }
        });
        for (const std::vector<std::size_t>& offers : later) {
            for (const std::size_t c : offers)
                hand_up(c);
        }
        candidates_ = std::move(handed);
        release(seed_weight_);
        release(seed_to_);
    }

    // Gives each component a bound to prune with from the start of a search: the cheapest
    // edge between points next to each other in tree order that lie in different
    // components. Such points share a leaf or sit in neighbouring ones, so the edge is
    // short; without it a search starts blind, since the candidates a merge hands up are
    // mostly its own edges, internal once merged. The bound is entered as the next double
    // above the edge's weight: every edge of that weight still beats it, so the search
    // meets them in its own order and takes the same edge as without the bound, and the
    // bound itself, beaten at least by its own edge, never leaves the search.
    //
    // The pairs are walked in chunks of positions, and an entry takes the first cheapest
    // bound in position order, as one walk would. Components are numbered by their
    // smallest positions, so those that start in a chunk are a range of numbers, which
    // the chunk owns and lowers as it goes; a chunk meets other components only when they
    // start in an earlier chunk, and hands them its pairs, applied in chunk order after
    // the join.
    void offer_adjacent_pairs() {
        const std::vector<RowChunk> chunks = split_rows(n_ - 1, threads_);
        // Chunk j walks the pairs (p, p + 1) for p in chunks[j] and owns the components
        // numbered owned[j]: those that start after chunks[j].start (or at it, for the
        // first chunk) and no later than its last pair's far end.
        std::vector<std::size_t> ends(chunks.size(), candidates_.size());
        run_tasks(context_, chunks.size() - 1, [&](std::size_t j) {
            std::size_t largest = 0;
            for (std::size_t p = chunks[j].start; p <= chunks[j].end; ++p) {
                context_.check_every(p);
                largest = std::max(largest, component_of(p));
            }
            ends[j] = largest + 1;
        });
        std::vector<RowChunk> owned;
        std::size_t start = 0;
        for (const std::size_t end : ends) {
            owned.push_back({start, std::max(end, start)});
            start = owned.back().end;
        }
        std::vector<std::vector<BoundOffer>> handed(chunks.size());
        run_tasks(context_, chunks.size(), [&](std::size_t j) {
            const auto lower = [&](std::size_t c, double bound, std::size_t from, std::size_t to) {
                if (c < owned[j].start || c >= owned[j].end) {
                    handed[j].push_back({c, {bound, from, to}});
                    return;
                }
                BoruvkaCandidate& entry = candidates_[c];
                if (bound < entry.weight) entry = {bound, from, to};
            };
            std::size_t second = component_of(chunks[j].start);
            for (std::size_t p = chunks[j].start; p < chunks[j].end; ++p) {
                context_.check_every(p);
                const std::size_t first = second;
                second = component_of(p + 1);
                if (first == second) continue;
                const double bound = std::nextafter(pair_weight(p, p + 1), INFINITE_WEIGHT);
                lower(first, bound, p, p + 1);
                lower(second, bound, p + 1, p);
            }
        });
        for (const std::vector<BoundOffer>& offers : handed) {
            for (const BoundOffer& offer : offers) {
                BoruvkaCandidate& entry = candidates_[offer.component];
                if (offer.bound.weight < entry.weight) entry = offer.bound;
            }
        }
    }

    // Every candidate a search leaves is an edge at its own weight. A bound from
    // offer_adjacent_pairs weighs one double more than its pair and must have been beaten;
    // merged, it would put a wrong weight in the tree.
    void check_candidates_are_edges() {
        for_rows(candidates_.size(), [&](std::size_t c) {
            const BoruvkaCandidate& own = candidates_[c];
            if (own.weight < INFINITE_WEIGHT && own.weight != pair_weight(own.from, own.to)) {
                fail_internal("Boruvka search: component " + std::to_string(c) +
                              " kept a candidate that is not an edge at its weight");
            }
        });
    }

    // Raises every point's core term to its component's candidate weight, once a search
    // has made that the cheapest edge leaving the component. Every edge the point can take
    // part in later leaves the component (any component holding it later holds the whole
    // component), so it weighs at least that much; and such a weight, the plain maximum of
    // the core terms and a distance term, stays the same, bit for bit, when a core term
    // rises to no more than it. Only pairs within a component, which no search weighs, come
    // out otherwise. The raised terms close points and prune nodes in the later searches
    // that the plain core distances let through.
    void raise_cores() {
        for_rows(n_, [&](std::size_t p) {
            const double w = candidates_[state_.position_component[p]].weight;
            double& core = state_.position_core[p];
            if (w < INFINITE_WEIGHT && core < w) core = w;
        });
    }

    // Search contract (ParallelSearch): compute_min_core(position_core, node_min_core),
    // summarise(state, candidates, node_bound) and search(state, candidates, node_bound),
    // which lowers every component's candidate to its cheapest outgoing edge, the same
    // edge for any thread count.
    //
    // A search may also offer every_component_pair(state, components, entries): the
    // cheapest edge between every two components that it finds an edge between, as batch
    // entries (any order); it returns false when it declines (and leaves `entries` empty).
    // By the cut property the spanning tree of those edges, which one merge walk builds,
    // completes the spanning tree.
    template <class Search>
    void iterate(Search& search) {
        search.compute_min_core(state_.position_core, state_.node_min_core);
        while (components_ > 1) {
            offer_adjacent_pairs();
            search.summarise(state_, candidates_, node_bound_);
            if constexpr (requires(std::vector<BatchEntry>& entries) {
                              search.every_component_pair(state_, components_, entries);
                          }) {
                std::vector<BatchEntry> entries;
                if (search.every_component_pair(state_, components_, entries)) {
                    checked_sort(
                        context_, entries.begin(), entries.end(),
                        [](const BatchEntry& a, const BatchEntry& b) { return batch_less(a, b); });
                    if (merge(std::move(entries)) == 0) return;
                    continue;
                }
            }
            search.search(state_, candidates_, node_bound_);
            check_candidates_are_edges();
            if (state_.mutual_reachability.plain_max()) {
                raise_cores();
                search.compute_min_core(state_.position_core, state_.node_min_core);
            }
            if (merge_candidates(false) == 0) return;
        }
    }

    const Tree& tree_;
    const ExecutionContext& context_;
    std::size_t n_;
    std::size_t threads_;
    BoruvkaSearchState<Space> state_;
    std::vector<BoruvkaCandidate> candidates_;  // one per component while components_ > 1
    // The candidates until the first merge when neighbour lists seed them, as two arrays
    // (12 bytes a point against 24): point p is component p and the candidate's `from`,
    // so only its weight and far end are kept. Lists exist only for n within NeighbourRow.
    std::vector<double> seed_weight_;
    std::vector<NeighbourRow> seed_to_;
    std::size_t components_;
    std::vector<double> node_bound_;
    CompactEdges edges_;
};

}  // namespace corvane::boruvka_detail
