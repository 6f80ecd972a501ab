#include <string>

#include "ball_tree/ball_tree.hpp"
#include "ball_tree/ball_tree_search_impl.hpp"
#include "common/internal_error.hpp"

namespace corvane {

void BallTree::search_knn(std::span<const double> point, KnnHeap& heap) const {
    if (nodes.empty()) fail_internal("BallTree::search_knn called on an empty tree");
    if (point.size() != dims) {
        fail_internal("BallTree::search_knn: query has " + std::to_string(point.size()) +
                      " values for a tree of " + std::to_string(dims) + " columns");
    }
    ball_search_knn(*this, point.data(), heap);
}

}  // namespace corvane
