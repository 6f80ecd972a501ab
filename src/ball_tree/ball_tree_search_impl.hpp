#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "ball_tree/ball_tree.hpp"
#include "tree_common/squared_distance.hpp"

namespace corvane {

// The k-nearest-neighbour search of BallTree, written over the heap type so that tests
// can watch every candidate offered. Heap contract (KnnHeap): is_full(), max_distance()
// and push(index, squared_distance).
//
// `kth_` caches the square root of the heap's worst distance; it is refreshed only after
// a leaf that changed that distance, so there is one square root per such leaf instead
// of one per visited node.
template <class Heap>
class BallSearch {
  public:
    BallSearch(const BallTree& tree, const double* point, Heap& heap)
        : tree_(tree), point_(point), heap_(heap) {}

    void run() {
        if (!tree_.nodes.empty()) visit(0, centroid_distance(0));
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();

    // `c` is the squared distance from the query to the node's centroid, computed by the
    // parent. The nearer child (left on ties) is searched by recursion, the other by
    // continuing the loop. A node exactly at the pruning distance is pruned.
    void visit(std::size_t node, double c) {
        const std::size_t dims = tree_.dims;
        for (;;) {
            const BallNode& record = tree_.nodes[node];
            if (heap_.is_full()) {
                const double reach = kth_ + record.radius;
                if (c >= reach * reach) return;
            }
            if (record.is_leaf) {
                const double before = heap_.max_distance();
                const double* row = tree_.tree_data.data() + record.start * dims;
                for (std::size_t i = record.start; i < record.end; ++i, row += dims) {
                    heap_.push(tree_.indices[i], squared_distance(row, point_, dims));
                }
                const double after = heap_.max_distance();
                if (after != before) kth_ = std::sqrt(after);
                return;
            }
            const double dl = centroid_distance(record.left);
            const double dr = centroid_distance(record.right);
            const bool left_first = dl <= dr;
            const std::size_t first = left_first ? record.left : record.right;
            const std::size_t second = left_first ? record.right : record.left;
            if (first != NO_NODE) visit(first, left_first ? dl : dr);
            if (second == NO_NODE) return;
            c = left_first ? dr : dl;
            node = second;
        }
    }

    double centroid_distance(std::size_t node) const {
        return node == NO_NODE ? INF : squared_distance(tree_.centroid(node), point_, tree_.dims);
    }

    const BallTree& tree_;
    const double* point_;
    Heap& heap_;
    double kth_ = INF;
};

template <class Heap>
void ball_search_knn(const BallTree& tree, const double* point, Heap& heap) {
    BallSearch<Heap>(tree, point, heap).run();
}

}  // namespace corvane
