#include "mst/dual_tree_boruvka/dual_tree_search.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "distance/euclidean/squared_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/leaf_pair_screen.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "mst/mutual_reachability.hpp"
#include "search_space/tree_spaces.hpp"
#include "tree_common/fixed_dims.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {
namespace {

// Marks a node-to-node gap that has not been computed yet; a gap in search units is never
// below minus a space's margin (search_space.hpp), far above -1.
constexpr double UNKNOWN_GAP = -1.0;

// Leaves' worth of rows per side that a screened scan takes at once (measured at 2 and 5
// columns on normal data: a fifth of the search time at 5 columns, a tenth at 2).
constexpr std::size_t SCANNED_LEAVES = 4;

// One search over a private (or the shared) candidate table. `Dims` fixes the column
// count at compile time for small counts so that the distance loop unrolls. With
// `Shared` the search runs beside others and prunes with the shared bounds; it then keeps
// in its table only what it finds for the components of its query points, and edges
// found for a reference point's component only lower that component's shared bound.
// (Which reference pairs a search reaches depends on pruning, and so on timing; what it
// finds for its query points does not, as the table's comment explains.)
//
// Recursion: the query side recurses into both children, so that the node's bound can be
// tightened from theirs afterwards; the reference side recurses into its nearer child and
// loops on the other. Every call goes one level deeper on one side, so the depth is
// bounded by twice the tree depth.
template <class Tree, class Space, std::size_t Dims, bool Shared>
class DualTreeSearcher {
  public:
    DualTreeSearcher(const Tree& tree, const BoruvkaSearchState<Space>& state,
                     BoruvkaSearchTable table, const ExecutionContext& context)
        : tree_(tree),
          state_(state),
          candidates_(table.candidates.data()),
          node_bound_(table.node_bound.data()),
          journal_(table.journal),
          shared_bound_(table.shared_bound.data()),
          witness_(table.witness.data()),
          context_(context),
          scan_rows_(std::is_same_v<Tree, KdTree>
                         ? std::min(SCREEN_MAX_ROWS, SCANNED_LEAVES * KdTree::leaf_size(tree.dims))
                         : 0) {}

    // `gap` is node_gap(q, r) when the caller has computed it already, or UNKNOWN_GAP.
    void search(std::size_t q, std::size_t r, double gap) {
        constexpr double infinity = std::numeric_limits<double>::infinity();
        if (q == NO_NODE) return;
        const auto& query = tree_.nodes[q];
        for (;;) {
            if (r == NO_NODE) return;
            context_.check_every(++visits_);
            const std::size_t label = state_.node_component[q];
            if (label != NO_COMPONENT && label == state_.node_component[r]) return;
            if (gap == UNKNOWN_GAP) gap = node_gap<Dims>(tree_, state_.space, q, r);
            const double core = max_ignoring_nan(state_.node_min_core[q], state_.node_min_core[r]);
            if (!can_improve(q, query, state_.mutual_reachability(core, gap))) return;

            const auto& reference = tree_.nodes[r];
            if (scans(query, reference)) {
                base_case(q, query, reference);
                return;
            }
            // Equal counts split the query side.
            if (reference.is_leaf || (!query.is_leaf && query.count >= reference.count)) {
                search(query.left, r, UNKNOWN_GAP);
                search(query.right, r, UNKNOWN_GAP);
                // Both children's bounds hold now; their maximum may be tighter.
                const double children = std::max(child_bound(query.left), child_bound(query.right));
                if (children < node_bound_[q]) node_bound_[q] = children;
                return;
            }
            const double to_left = reference.left == NO_NODE
                                       ? infinity
                                       : node_gap<Dims>(tree_, state_.space, q, reference.left);
            const double to_right = reference.right == NO_NODE
                                        ? infinity
                                        : node_gap<Dims>(tree_, state_.space, q, reference.right);
            const bool left_first = to_left <= to_right;
            search(q, left_first ? reference.left : reference.right,
                   left_first ? to_left : to_right);
            r = left_first ? reference.right : reference.left;
            gap = left_first ? to_right : to_left;
        }
    }

  private:
    // Whether some point of the query node can gain from a pair of weight at least
    // `bound`, that is whether some point_bound exceeds it. A node whose bound does not
    // exceed `bound` has no such point; a labelled node asks its one candidate. Otherwise
    // the node is scanned from the witness on, since its points' candidates may have
    // dropped since its bound was taken: a leaf point by point, an inner node one
    // component_bound per run of equal components in tree order. A scan that finds nothing
    // leaves the largest value it saw as the node's bound.
    template <class Node>
    bool can_improve(std::size_t q, const Node& query, double bound) {
        if (node_bound_[q] <= bound) return false;
        const std::size_t label = state_.node_component[q];
        if (label != NO_COMPONENT) {
            return candidates_[label].weight > bound && shared_open(label, bound);
        }
        // A leaf's points are told apart by their core terms, an inner node's only by
        // their components, which come in runs.
        const std::size_t* component = state_.position_component.data();
        const auto open_value = [&](std::size_t i) {
            return query.is_leaf ? point_bound(i) : component_bound(component[i]);
        };
        if (witness_ != nullptr && open_value(witness_[q]) > bound) return true;
        double largest = 0.0;
        std::size_t previous = NO_COMPONENT;
        for (std::size_t i = query.start; i < query.end; ++i) {
            if (!query.is_leaf && component[i] == previous) continue;
            previous = component[i];
            const double weight = open_value(i);
            if (weight > bound) {
                if (witness_ != nullptr) witness_[q] = i;
                return true;
            }
            largest = std::max(largest, weight);
        }
        node_bound_[q] = largest;
        return false;
    }

    double child_bound(std::size_t child) const {
        return child == NO_NODE ? 0.0 : node_bound_[child];
    }

    // The least weight no pair of the component can improve its entry with: a pair must
    // weigh less than the candidate and, with sharing, not more than the shared bound, for
    // which the next double above that bound stands in.
    double component_bound(std::size_t c) const {
        const double weight = candidates_[c].weight;
        if constexpr (Shared) {
            return std::min(weight, next_up(shared_weight(c)));
        } else {
            return weight;
        }
    }

    // open_weight (node_summaries.hpp) of the point at tree position i under
    // component_bound.
    double point_bound(std::size_t i) const {
        return open_weight(state_.position_core[i], component_bound(state_.position_component[i]));
    }

    // std::nextafter(x, +infinity), without the library call for the usual finite
    // non-negative weights (the next representation up is the next double up).
    static double next_up(double x) {
        if (!(x > 0.0) || x == std::numeric_limits<double>::infinity()) {
            return std::nextafter(x, std::numeric_limits<double>::infinity());
        }
        return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + 1);
    }

    // The shared bound of a component; +infinity without sharing.
    double shared_weight(std::size_t component) const {
        if constexpr (Shared) {
            return std::atomic_ref<double>(shared_bound_[component])
                .load(std::memory_order_relaxed);
        } else {
            return std::numeric_limits<double>::infinity();
        }
    }

    // Whether an edge of weight `bound` can still matter to the component's shared bound.
    bool shared_open(std::size_t component, double bound) const {
        return !Shared || shared_weight(component) >= bound;
    }

    void lower_shared(std::size_t component, double weight) {
        std::atomic_ref<double> shared(shared_bound_[component]);
        double known = shared.load(std::memory_order_relaxed);
        while (weight < known &&
               !shared.compare_exchange_weak(known, weight, std::memory_order_relaxed)) {
        }
    }

    void improve(std::size_t component, double weight, std::size_t from, std::size_t to) {
        if (journal_ != nullptr) journal_->note(component);
        candidates_[component] = {weight, from, to};
        if constexpr (Shared) lower_shared(component, weight);
    }

    // Whether the pair is searched point by point: two leaves, or, where the screen
    // serves, two KD-tree nodes of at most a few leaves' rows each, which the screen scans
    // faster than the search descends to their leaves.
    template <class Node>
    bool scans(const Node& query, const Node& reference) const {
        if (query.is_leaf && reference.is_leaf) return true;
        return query.end - query.start <= scan_rows_ &&
               reference.end - reference.start <= scan_rows_ && screens(query, reference);
    }

    // Whether the base case can go through the vector screen (leaf_pair_screen.hpp): the
    // Euclidean weight with alpha 1, compiled widths up to the screen's, and leaves that
    // fit it.
    template <class Node>
    bool screens(const Node& query, const Node& reference) const {
        if constexpr (std::is_same_v<Space, SquaredEuclideanSpace> && Dims <= SCREEN_MAX_DIMS) {
            return state_.mutual_reachability.plain_max() &&
                   query.end - query.start <= SCREEN_MAX_ROWS &&
                   reference.end - reference.start <= SCREEN_MAX_ROWS;
        } else {
            return false;
        }
    }

    // Every pair of the two nodes, query points in order and for each the reference rows
    // in order, each through visit_pair. Points that cannot gain are skipped (see
    // visit_pair). With the screen, a query point visits only the rows it lets through:
    // the others would change nothing, so the outcome is the same pair for pair. Leaves
    // the query node's bound at the largest open weight of its points.
    template <class Node>
    void base_case(std::size_t q, const Node& query, const Node& reference) {
        if (screens(query, reference)) {
            screened_base_case(q, query, reference);
            return;
        }
        double leaf_bound = 0.0;
        for (std::size_t i = query.start; i < query.end; ++i) {
            QueryPoint p = query_point(i);
            if (p.closed()) continue;
            for (std::size_t j = reference.start; j < reference.end; ++j)
                visit_pair(p, j);
            leaf_bound = std::max(leaf_bound, point_bound(i));
        }
        node_bound_[q] = leaf_bound;
    }

    template <class Node>
    void screened_base_case(std::size_t q, const Node& query, const Node& reference) {
        const std::size_t* component = state_.position_component.data();
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree_.dims : Dims;
        const double* rows = tree_.tree_data.data();
        screen_leaf_.count = reference.end - reference.start;
        for (std::size_t j = reference.start; j < reference.end; ++j) {
            const std::size_t at = j - reference.start;
            const std::size_t cx = component[j];
            for (std::size_t c = 0; c < dims; ++c)
                screen_leaf_.columns[c][at] = rows[j * dims + c];
            screen_leaf_.core[at] = screen_core(state_.position_core[j]);
            screen_leaf_.other[at] = Shared ? shared_weight(cx) : candidates_[cx].weight;
            screen_leaf_.component[at] = cx;
        }
        screen_leaf_.pad(dims);
        std::size_t listed = 0;
        for (std::size_t i = query.start; i < query.end; ++i) {
            const QueryPoint p = query_point(i);
            if (p.closed()) continue;
            screen_positions_[listed] = i;
            screen_queries_[listed++] = {rows + i * dims, screen_core(p.core), p.component, p.own,
                                         p.shared};
        }
        screen_leaf_pairs(screen_leaf_, dims, screen_queries_, listed, screen_masks_);
        // A point closed when listed stays closed; one listed is checked again in
        // visit_pair's order, as its thresholds may have fallen since.
        double leaf_bound = 0.0;
        for (std::size_t t = 0; t < listed; ++t) {
            const std::size_t i = screen_positions_[t];
            QueryPoint p = query_point(i);
            if (p.closed()) continue;
            for (std::uint64_t mask = screen_masks_[t]; mask != 0; mask &= mask - 1)
                visit_pair(p, reference.start + static_cast<std::size_t>(std::countr_zero(mask)));
            leaf_bound = std::max(leaf_bound, point_bound(i));
        }
        node_bound_[q] = leaf_bound;
    }

    // A query point of the base case: own is its component's candidate and shared the
    // component's shared bound, both lowered as the point finds edges.
    struct QueryPoint {
        std::size_t position;
        std::size_t component;
        double core;
        double own;
        double shared;

        // mr is at least the core term, so p cannot beat its component's candidate. Such a
        // point stays closed for the rest of the search: its open weight is 0.
        bool closed() const { return core >= own || core > shared; }
    };

    QueryPoint query_point(std::size_t i) const {
        const std::size_t cp = state_.position_component[i];
        return {i, cp, state_.position_core[i], candidates_[cp].weight, shared_weight(cp)};
    }

    // p's component takes an edge of weight w when w < own and w <= shared; x's component
    // when w < other (its entry, or with sharing its shared bound). A NaN weight is taken
    // by neither, but never skipped before it is computed.
    void visit_pair(QueryPoint& p, std::size_t j) {
        const std::size_t cx = state_.position_component[j];
        if (cx == p.component) return;
        const double c = max_ignoring_nan(state_.position_core[j], p.core);
        const double other = Shared ? shared_weight(cx) : candidates_[cx].weight;
        const auto useless = [&](double w) { return (w >= p.own || w > p.shared) && w >= other; };
        if (useless(c)) return;
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree_.dims : Dims;
        const double* rows = tree_.tree_data.data();
        const auto& mr = state_.mutual_reachability;
        // mr grows with the distance, so a partial sum or a lower bound that is already
        // useless settles the pair.
        double d = 0.0;
        if (!state_.space.template pair_unless<Dims>(
                rows + p.position * dims, rows + j * dims, p.position, j, dims,
                [&](double partial) { return useless(mr(c, partial)); }, d)) {
            return;
        }
        const double w = mr(c, d);
        if (w < p.own && w <= p.shared) {
            improve(p.component, w, p.position, j);
            p.own = w;
            p.shared = w;
        }
        if (w < other) {
            if constexpr (Shared) {
                lower_shared(cx, w);
            } else {
                improve(cx, w, j, p.position);
            }
        }
    }

    const Tree& tree_;
    const BoruvkaSearchState<Space>& state_;
    BoruvkaCandidate* candidates_;
    double* node_bound_;
    CandidateJournal* journal_;
    double* shared_bound_;
    std::size_t* witness_;
    const ExecutionContext& context_;
    std::size_t visits_ = 0;  // node pairs, for the interruption checks
    std::size_t scan_rows_;   // rows per side up to which inner nodes are scanned (scans)
    // Scratch space of the screened base case.
    ScreenLeaf screen_leaf_;
    ScreenQuery screen_queries_[SCREEN_MAX_ROWS];
    std::size_t screen_positions_[SCREEN_MAX_ROWS];
    std::uint64_t screen_masks_[SCREEN_MAX_ROWS];
};

template <std::size_t Dims, class Tree, class Space>
void run_search(const Tree& tree, const BoruvkaSearchState<Space>& state, std::size_t q,
                std::size_t r, BoruvkaSearchTable table, const ExecutionContext& context) {
    if (table.shared_bound.empty()) {
        DualTreeSearcher<Tree, Space, Dims, false>(tree, state, table, context)
            .search(q, r, UNKNOWN_GAP);
    } else {
        DualTreeSearcher<Tree, Space, Dims, true>(tree, state, table, context)
            .search(q, r, UNKNOWN_GAP);
    }
}

// Column counts the search is compiled for: the KD-tree's low-dimensional range, where
// the box bounds and the base case are the whole cost; ball trees mostly hold wider rows.
template <class Tree>
constexpr std::size_t SEARCH_FIXED_DIMS = std::is_same_v<Tree, KdTree> ? 8 : 4;

}  // namespace

template <class Tree, class Space>
void dual_tree_search(const Tree& tree, const BoruvkaSearchState<Space>& state, std::size_t q,
                      std::size_t r, BoruvkaSearchTable table, const ExecutionContext& context) {
    with_fixed_dims<SEARCH_FIXED_DIMS<Tree>>(tree.dims, [&](auto dims) {
        run_search<decltype(dims)::value>(tree, state, q, r, table, context);
    });
}

#define CORVANE_INSTANTIATE(TREE, SPACE)                                                       \
    template void dual_tree_search(const TREE&, const BoruvkaSearchState<SPACE>&, std::size_t, \
                                   std::size_t, BoruvkaSearchTable, const ExecutionContext&);
CORVANE_FOR_EACH_TREE_SPACE(CORVANE_INSTANTIATE)
#undef CORVANE_INSTANTIATE

}  // namespace corvane
