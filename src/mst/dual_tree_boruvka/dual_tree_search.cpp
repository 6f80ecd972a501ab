#include "mst/dual_tree_boruvka/dual_tree_search.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "distance/euclidean/squared_distance.hpp"
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
          context_(context) {}

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
            if (query.is_leaf && reference.is_leaf) {
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

    // p's component takes an edge of weight w when w < own (its entry) and w <= shared (its
    // shared bound); x's component when w < other (its entry, or with sharing its shared
    // bound). A NaN weight is taken by neither, but never skipped before it is computed.
    // Leaves the query leaf's bound at the largest open weight of its points.
    template <class Node>
    void base_case(std::size_t q, const Node& query, const Node& reference) {
        const std::size_t* component = state_.position_component.data();
        const double* core_units = state_.position_core.data();
        const auto& mr = state_.mutual_reachability;
        const Space& space = state_.space;
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree_.dims : Dims;
        const double* rows = tree_.tree_data.data();
        double leaf_bound = 0.0;
        for (std::size_t i = query.start; i < query.end; ++i) {
            const std::size_t cp = component[i];
            double own = candidates_[cp].weight;
            double shared = shared_weight(cp);
            const double core_p = core_units[i];
            // mr is at least the core term, so p cannot beat its component's candidate.
            // Such a point stays closed for the rest of the search: its open weight is 0.
            if (core_p >= own || core_p > shared) continue;
            const double* row_p = rows + i * dims;
            for (std::size_t j = reference.start; j < reference.end; ++j) {
                const std::size_t cx = component[j];
                if (cx == cp) continue;
                const double c = max_ignoring_nan(core_units[j], core_p);
                const double other = Shared ? shared_weight(cx) : candidates_[cx].weight;
                const auto useless = [&](double w) {
                    return (w >= own || w > shared) && w >= other;
                };
                if (useless(c)) continue;
                // mr grows with the distance, so a partial sum or a lower bound that is
                // already useless settles the pair.
                double d = 0.0;
                if (!space.template pair_unless<Dims>(
                        row_p, rows + j * dims, i, j, dims,
                        [&](double partial) { return useless(mr(c, partial)); }, d)) {
                    continue;
                }
                const double w = mr(c, d);
                if (w < own && w <= shared) {
                    improve(cp, w, i, j);
                    own = w;
                    shared = w;
                }
                if (w < other) {
                    if constexpr (Shared) {
                        lower_shared(cx, w);
                    } else {
                        improve(cx, w, j, i);
                    }
                }
            }
            leaf_bound = std::max(leaf_bound, point_bound(i));
        }
        node_bound_[q] = leaf_bound;
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
