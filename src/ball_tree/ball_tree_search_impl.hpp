#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "ball_tree/ball_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"

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

    // Depth first, nearer child first (left on ties). Instead of recursing into the
    // nearer child the search keeps the other children still to be tried on a stack, with
    // their centroid distances; each is checked against the pruning distance again when
    // it is taken up.
    void run() {
        if (tree_.nodes.empty()) return;
        Child pending[MAX_DEPTH];
        std::size_t top = 0;
        Child current{0, squared_distance(tree_.centroid(0), point_, tree_.dims)};
        for (;;) {
            if (!enter(current, pending, top)) {
                if (top == 0) return;
                current = pending[--top];
            }
        }
    }

  private:
    static constexpr double INF = std::numeric_limits<double>::infinity();
    // Deeper than any tree: each level halves the rows.
    static constexpr std::size_t MAX_DEPTH = 65;

    struct Child {
        std::size_t node;  // NO_NODE when missing or already pruned
        double c;          // squared distance from the query to its centroid
    };

    // Visits `current`: returns false when it is pruned or is a leaf (its rows offered to
    // the heap); otherwise stacks the farther child and moves `current` to the nearer one,
    // returning true. A node exactly at the pruning distance is pruned.
    bool enter(Child& current, Child* pending, std::size_t& top) {
        const std::size_t dims = tree_.dims;
        const BallNode& record = tree_.nodes[current.node];
        if (heap_.is_full() && current.c >= prune_distance(record)) return false;
        if (record.is_leaf) {
            const double before = heap_.max_distance();
            const double* row = tree_.tree_data.data() + record.start * dims;
            for (std::size_t i = record.start; i < record.end; ++i, row += dims) {
                // Once the heap is full, a distance that reaches its worst entry would be
                // rejected, so its computation may stop there.
                const double bound = heap_.is_full() ? heap_.max_distance() : INF;
                heap_.push(tree_.indices[i], squared_distance(row, point_, dims, bound));
            }
            const double after = heap_.max_distance();
            if (after != before) kth_ = std::sqrt(after);
            return false;
        }
        // A child already at its pruning distance stays pruned for the rest of the query
        // (the worst kept distance only shrinks), so it is dropped here, before its centroid
        // distance is complete; the visiting order of the others is unchanged.
        const Child left = child(record.left);
        const Child right = child(record.right);
        const bool left_first = left.c <= right.c;
        const Child& first = left_first ? left : right;
        const Child& second = left_first ? right : left;
        if (second.node != NO_NODE) pending[top++] = second;
        current = first;
        return first.node != NO_NODE;
    }

    // Squared distance (kth + radius)^2 at or beyond which a full heap prunes the node.
    double prune_distance(const BallNode& record) const {
        const double reach = kth_ + record.radius;
        return reach * reach;
    }

    Child child(std::size_t node) const {
        if (node == NO_NODE) return {NO_NODE, INF};
        const double* centroid = tree_.centroid(node);
        if (!heap_.is_full()) return {node, squared_distance(centroid, point_, tree_.dims)};
        const double bound = prune_distance(tree_.nodes[node]);
        const double c = squared_distance(centroid, point_, tree_.dims, bound);
        return {c >= bound ? NO_NODE : node, c};
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
