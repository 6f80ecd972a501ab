#pragma once

#include <cstddef>
#include <span>

#include "knn_heap/knn_heap.hpp"

namespace corvane {

// Offers the rows of `tree` to `heap` (created with bound k and cleared by the caller) so
// that it ends with the k nearest rows to `point` (tree.dims values): squared Euclidean
// distances, input row numbers. The order in which nodes are visited and pruned is the
// tree's KnnRule (tree_contract.hpp). An empty tree or a point of another width is an
// internal error. Instantiated for KdTree and BallTree in their folders.
template <class Tree>
void search_knn(const Tree& tree, std::span<const double> point, KnnHeap& heap);

}  // namespace corvane
