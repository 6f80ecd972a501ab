#include <string>

#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "kdtree_bounded/kd_tree_search_impl.hpp"

namespace corvane {

void KdTree::search_knn(std::span<const double> point, KnnHeap& heap) const {
    if (nodes.empty()) fail_internal("KdTree::search_knn called on an empty tree");
    if (point.size() != dims) {
        fail_internal("KdTree::search_knn: query has " + std::to_string(point.size()) +
                      " values for a tree of " + std::to_string(dims) + " columns");
    }
    kd_search_knn(*this, point.data(), heap);
}

}  // namespace corvane
