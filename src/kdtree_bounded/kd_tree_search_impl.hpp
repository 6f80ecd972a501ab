#pragma once

#include <cstddef>

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
                    heap_.push(tree_.indices[i], squared_distance<Dims>(row, point_, dims));
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
    const KdTree& tree_;
    const double* point_;
    Heap& heap_;
};

template <class Heap>
void kd_search_knn(const KdTree& tree, const double* point, Heap& heap) {
    switch (tree.dims) {
        case 1:
            return KdSearch<1, Heap>(tree, point, heap).visit(0);
        case 2:
            return KdSearch<2, Heap>(tree, point, heap).visit(0);
        case 3:
            return KdSearch<3, Heap>(tree, point, heap).visit(0);
        case 4:
            return KdSearch<4, Heap>(tree, point, heap).visit(0);
        default:
            return KdSearch<DYNAMIC_DIMS, Heap>(tree, point, heap).visit(0);
    }
}

}  // namespace corvane
