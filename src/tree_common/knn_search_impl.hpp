#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <utility>

#include "common/internal_error.hpp"
#include "knn_heap/knn_heap.hpp"
#include "tree_common/depth_first.hpp"
#include "tree_common/fixed_dims.hpp"
#include "tree_common/knn_search.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// The k-nearest-neighbour search over any tree, written over the heap type so that tests
// can watch every candidate offered. Heap contract (KnnHeap): is_full(), max_distance()
// and push(index, squared_distance). `Dims` fixes the column count at compile time (up to
// Tree::UNROLLED_DIMS; DYNAMIC_DIMS otherwise) so that the per-column loops unroll.
//
// The walk is walk_depth_first; the tree's KnnRule<Tree, Dims> decides the rest, each
// call given the tree and the query point:
// - `Entry`, with `node` first, and `root(tree, point)` (NO_NODE for an empty tree);
// - `prunes(tree, point, entry, kth_sq)`: whether a full heap whose worst kept distance is
//   kth_sq has nothing to gain below the entry's node, and `outdated(entry, kth_sq)` the
//   same judged on what the entry recorded when it was stacked;
// - `children(tree, point, node, heap_full)`: the entries of the child to search first
//   and of the other;
// - `leaf_done(before, after)`: told the worst kept distance before and after a leaf.
template <class Tree, std::size_t Dims, class Heap>
class KnnSearch {
  public:
    using Rule = KnnRule<Tree, Dims>;
    using Entry = typename Rule::Entry;
    using Node = typename Tree::Node;

    KnnSearch(const double* point, Heap& heap) : point_(point), heap_(heap) {}

    Entry root(const Tree& tree) const { return rule_.root(tree, point_); }

    bool pruned(const Tree& tree, const Entry& entry) const {
        return heap_.is_full() && rule_.prunes(tree, point_, entry, heap_.max_distance());
    }

    bool outdated(const Entry& entry) const {
        return heap_.is_full() && rule_.outdated(entry, heap_.max_distance());
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
            const double bound =
                heap_.is_full() ? heap_.max_distance() : std::numeric_limits<double>::infinity();
            heap_.push(tree.indices[i], squared_distance<Dims>(row, point_, dims, bound));
        }
        rule_.leaf_done(before, heap_.max_distance());
    }

  private:
    Rule rule_;
    const double* point_;
    Heap& heap_;
};

// The search without checks, for any heap.
template <class Tree, class Heap>
void search_knn_unchecked(const Tree& tree, const double* point, Heap& heap) {
    with_fixed_dims<Tree::UNROLLED_DIMS>(tree.dims, [&](auto dims) {
        walk_depth_first(tree, KnnSearch<Tree, decltype(dims)::value, Heap>(point, heap));
    });
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
