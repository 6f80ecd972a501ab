#include "ball_tree/ball_tree.hpp"
#include "ball_tree/ball_tree_bounds.hpp"
#include "tree_common/knn_search_impl.hpp"

namespace corvane {

template void search_knn(const BallTree&, std::span<const double>, KnnHeap&);

}  // namespace corvane
