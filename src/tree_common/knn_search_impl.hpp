#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <utility>

#include "common/internal_error.hpp"
#include "knn_heap/knn_heap.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/depth_first.hpp"
#include "tree_common/fixed_dims.hpp"
#include "tree_common/knn_search.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// The k-nearest-neighbour search over any tree and search space
// (search_space/search_space.hpp), written over the heap type so that tests can watch
// every candidate offered. Heap contract (KnnHeap): is_full(), max_distance() and
// push(index, distance), distances in the space's search units. `Dims` fixes the column
// count at compile time (up to Tree::UNROLLED_DIMS; DYNAMIC_DIMS otherwise) so that the
// per-column loops unroll.
//
// The walk is walk_depth_first; the tree's KnnRule<Tree, Dims, Space>, constructed from
// the space, decides the rest, each call given the tree and the query's bound point:
// - `Entry`, with `node` first, and `root(tree, point)` (NO_NODE for an empty tree);
// - `prunes(tree, point, entry, limit)`: whether a full heap whose worst kept distance
//   has the given limit (in bound units) has nothing to gain below the entry's node, and
//   `outdated(entry, limit)` the same judged on what the entry recorded when it was
//   stacked;
// - `children(tree, point, node, heap_full)`: the entries of the child to search first
//   and of the other;
// - `limit_changed(limit)`: told the new limit after a leaf that changed the worst kept
//   distance.
//
// The limit of the worst kept distance is kept up to date with the heap: a space whose
// conversion costs (a power) pays it once per change, not once per row or node.
template <class Tree, std::size_t Dims, class Heap, class Space>
class KnnSearch {
  public:
    using Rule = KnnRule<Tree, Dims, Space>;
    using Entry = typename Rule::Entry;
    using Node = typename Tree::Node;
    using Query = typename Space::Query;

    KnnSearch(const Space& space, const Query& query, Heap& heap)
        : rule_(space),
          space_(space),
          query_(query),
          point_(Space::bound_point(query)),
          heap_(heap) {}

    Entry root(const Tree& tree) const { return rule_.root(tree, point_); }

    bool pruned(const Tree& tree, const Entry& entry) const {
        return heap_.is_full() && rule_.prunes(tree, point_, entry, limit_bound());
    }

    bool outdated(const Entry& entry) const {
        return heap_.is_full() && rule_.outdated(entry, limit_bound());
    }

    std::pair<Entry, Entry> children(const Tree& tree, const Node& record) const {
        return rule_.children(tree, point_, record, heap_.is_full());
    }

    void leaf(const Tree& tree, const Node& record) {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree.dims : Dims;
        const double before = heap_.max_distance();
        const double* row = tree.tree_data.data() + record.start * dims;
        for (std::size_t i = record.start; i < record.end; ++i, row += dims) {
            // Once the heap is full, a distance that reaches its worst entry would be
            // rejected, so its computation may stop there.
            heap_.push(tree.indices[i],
                       space_.template distance<Dims>(row, i, dims, query_, full_limit()));
        }
        const double after = heap_.max_distance();
        if (after != before) {
            refresh(after);
            rule_.limit_changed(limit_);
        }
    }

  private:
    Limit full_limit() {
        if (!heap_.is_full()) return {};
        if constexpr (Space::plain_limits) {
            const double worst = heap_.max_distance();
            return {worst, worst};
        } else {
            refresh(heap_.max_distance());
            return limit_;
        }
    }

    double limit_bound() const {
        if constexpr (Space::plain_limits) {
            return heap_.max_distance();
        } else {
            return limit_.bound;
        }
    }

    void refresh(double worst) {
        if (worst != limit_.units) limit_ = space_.limit(worst);
    }

    Rule rule_;
    const Space& space_;
    Query query_;
    const double* point_;
    Heap& heap_;
    Limit limit_;
};

// The search without checks, for any heap.
template <class Tree, class Space, class Heap>
void search_knn_unchecked(const Tree& tree, const Space& space, const typename Space::Query& query,
                          Heap& heap) {
    with_fixed_dims<Tree::UNROLLED_DIMS>(tree.dims, [&](auto dims) {
        walk_depth_first(tree,
                         KnnSearch<Tree, decltype(dims)::value, Heap, Space>(space, query, heap));
    });
}

// The Euclidean search without checks: squared distances over the tree's rows.
template <class Tree, class Heap>
void search_knn_unchecked(const Tree& tree, const double* point, Heap& heap) {
    search_knn_unchecked(tree, SquaredEuclideanSpace{}, SquaredEuclideanSpace::Query{point}, heap);
}

template <class Tree>
void search_knn(const Tree& tree, std::span<const double> point, KnnHeap& heap) {
    if (tree.nodes.empty()) fail_internal("search_knn called on an empty tree");
    if (point.size() != tree.dims) {
        fail_internal("search_knn: query has " + std::to_string(point.size()) +
                      " values for a tree of " + std::to_string(tree.dims) + " columns");
    }
    search_knn_unchecked(tree, point.data(), heap);
}

}  // namespace corvane
