#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>

#include "kdtree_bounded/kd_tree.hpp"
#include "tree_common/squared_distance.hpp"

namespace corvane {

// The k-nearest-neighbour search of KdTree, written over the heap type so that tests can
// watch every candidate offered. Heap contract (KnnHeap): is_full(), max_distance() and
// push(index, squared_distance). `Dims` fixes the column count at compile time for small
// counts (DYNAMIC_DIMS otherwise) so that the per-column loops unroll.
template <std::size_t Dims, class Heap>
class KdSearch {
  public:
    KdSearch(const KdTree& tree, const double* point, Heap& heap)
        : tree_(tree), point_(point), heap_(heap) {}

    // The near child is searched by recursion, the far child by continuing the loop, so
    // the recursion depth is the tree depth. Equal distances prune: a row at exactly the
    // worst kept distance would be rejected by the full heap anyway.
    void visit(std::size_t node) {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree_.dims : Dims;
        for (;;) {
            if (heap_.is_full() && tree_.min_rdist_point(node, point_) >= heap_.max_distance()) {
                return;
            }
            const KdNode& record = tree_.nodes[node];
            if (record.is_leaf) {
                const double* row = tree_.tree_data.data() + record.start * dims;
                for (std::size_t i = record.start; i < record.end; ++i, row += dims) {
                    // Once the heap is full, a distance that reaches its worst entry would
                    // be rejected, so its computation may stop there.
                    const double bound = heap_.is_full() ? heap_.max_distance() : INF;
                    heap_.push(tree_.indices[i], squared_distance<Dims>(row, point_, dims, bound));
                }
                return;
            }
            // Without columns every row sits at the same place; take the left child first.
            const double diff = dims == 0 ? 0.0 : point_[record.split_dim] - record.split_value;
            const std::size_t near = diff <= 0.0 ? record.left : record.right;
            const std::size_t far = diff <= 0.0 ? record.right : record.left;
            if (near != NO_NODE) visit(near);
            if (far == NO_NODE) return;
            if (heap_.is_full() && heap_.max_distance() <= diff * diff) return;
            node = far;
        }
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();

    const KdTree& tree_;
    const double* point_;
    Heap& heap_;
};

template <class Heap>
void kd_search_knn(const KdTree& tree, const double* point, Heap& heap) {
    // Fixed column counts up to 16, the widest data a KD-tree is built for.
    switch (tree.dims) {
        case 1:
            return KdSearch<1, Heap>(tree, point, heap).visit(0);
        case 2:
            return KdSearch<2, Heap>(tree, point, heap).visit(0);
        case 3:
            return KdSearch<3, Heap>(tree, point, heap).visit(0);
        case 4:
            return KdSearch<4, Heap>(tree, point, heap).visit(0);
        case 5:
            return KdSearch<5, Heap>(tree, point, heap).visit(0);
        case 6:
            return KdSearch<6, Heap>(tree, point, heap).visit(0);
        case 7:
            return KdSearch<7, Heap>(tree, point, heap).visit(0);
        case 8:
            return KdSearch<8, Heap>(tree, point, heap).visit(0);
        case 9:
            return KdSearch<9, Heap>(tree, point, heap).visit(0);
        case 10:
            return KdSearch<10, Heap>(tree, point, heap).visit(0);
        case 11:
            return KdSearch<11, Heap>(tree, point, heap).visit(0);
        case 12:
            return KdSearch<12, Heap>(tree, point, heap).visit(0);
        case 13:
            return KdSearch<13, Heap>(tree, point, heap).visit(0);
        case 14:
            return KdSearch<14, Heap>(tree, point, heap).visit(0);
        case 15:
            return KdSearch<15, Heap>(tree, point, heap).visit(0);
        case 16:
            return KdSearch<16, Heap>(tree, point, heap).visit(0);
        default:
            return KdSearch<DYNAMIC_DIMS, Heap>(tree, point, heap).visit(0);
    }
}

}  // namespace corvane
