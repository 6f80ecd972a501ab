#include "kdtree_bounded/kd_tree.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "tree_common/knn_search_impl.hpp"

namespace corvane {

template void search_knn(const KdTree&, std::span<const double>, KnnHeap&);

}  // namespace corvane
