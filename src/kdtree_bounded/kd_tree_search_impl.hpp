#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>

#include "distance/euclidean/squared_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"

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

    // Depth first, near child before far child. Instead of recursing into the near child
    // the search keeps the far children still to be tried on a stack (with their squared
    // plane distance); a far child is taken up once everything below the near one is
    // done, and pruned then if the plane is no nearer than the worst kept row.
    void run() {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? tree_.dims : Dims;
        Pending pending[MAX_DEPTH];
        std::size_t top = 0;
        std::size_t node = 0;
        for (;;) {
            if (enter(node, dims, pending, top)) continue;
            node = NO_NODE;
            while (top > 0) {
                const Pending far = pending[--top];
                if (heap_.is_full() && heap_.max_distance() <= far.plane_sq) continue;
                node = far.node;
                break;
            }
            if (node == NO_NODE) return;
        }
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();
    // Deeper than any tree: each level halves the rows.
    static constexpr std::size_t MAX_DEPTH = 65;

    struct Pending {
        std::size_t node;
        double plane_sq;  // squared distance from the query to the splitting plane
    };

    // Visits `node`: returns false when it is pruned or is a leaf (its rows offered to the
    // heap); otherwise stacks the far child and moves `node` to the near child, returning
    // true. Equal distances prune: a row at exactly the worst kept distance would be
    // rejected by the full heap anyway.
    bool enter(std::size_t& node, std::size_t dims, Pending* pending, std::size_t& top) {
        if (heap_.is_full() && tree_.min_rdist_point(node, point_) >= heap_.max_distance()) {
            return false;
        }
        const KdNode& record = tree_.nodes[node];
        if (record.is_leaf) {
            const double* row = tree_.tree_data.data() + record.start * dims;
            for (std::size_t i = record.start; i < record.end; ++i, row += dims) {
                // Once the heap is full, a distance that reaches its worst entry would be
                // rejected, so its computation may stop there.
                const double bound = heap_.is_full() ? heap_.max_distance() : INF;
                heap_.push(tree_.indices[i], squared_distance<Dims>(row, point_, dims, bound));
            }
            return false;
        }
        // Without columns every row sits at the same place; take the left child first.
        const double diff = dims == 0 ? 0.0 : point_[record.split_dim] - record.split_value;
        const std::size_t near = diff <= 0.0 ? record.left : record.right;
        const std::size_t far = diff <= 0.0 ? record.right : record.left;
        if (far != NO_NODE) pending[top++] = {far, diff * diff};
        node = near;
        return near != NO_NODE;
    }

    const KdTree& tree_;
    const double* point_;
    Heap& heap_;
};

template <class Heap>
void kd_search_knn(const KdTree& tree, const double* point, Heap& heap) {
    // Fixed column counts up to 16, the widest data a KD-tree is built for.
    switch (tree.dims) {
        case 1:
            return KdSearch<1, Heap>(tree, point, heap).run();
        case 2:
            return KdSearch<2, Heap>(tree, point, heap).run();
        case 3:
            return KdSearch<3, Heap>(tree, point, heap).run();
        case 4:
            return KdSearch<4, Heap>(tree, point, heap).run();
        case 5:
            return KdSearch<5, Heap>(tree, point, heap).run();
        case 6:
            return KdSearch<6, Heap>(tree, point, heap).run();
        case 7:
            return KdSearch<7, Heap>(tree, point, heap).run();
        case 8:
            return KdSearch<8, Heap>(tree, point, heap).run();
        case 9:
            return KdSearch<9, Heap>(tree, point, heap).run();
        case 10:
            return KdSearch<10, Heap>(tree, point, heap).run();
        case 11:
            return KdSearch<11, Heap>(tree, point, heap).run();
        case 12:
            return KdSearch<12, Heap>(tree, point, heap).run();
        case 13:
            return KdSearch<13, Heap>(tree, point, heap).run();
        case 14:
            return KdSearch<14, Heap>(tree, point, heap).run();
        case 15:
            return KdSearch<15, Heap>(tree, point, heap).run();
        case 16:
            return KdSearch<16, Heap>(tree, point, heap).run();
        default:
            return KdSearch<DYNAMIC_DIMS, Heap>(tree, point, heap).run();
    }
}

}  // namespace corvane
