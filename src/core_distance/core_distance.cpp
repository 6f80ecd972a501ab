#include "core_distance/core_distance.hpp"

#include <string>

#include "ball_tree/ball_tree_bounds.hpp"
#include "common/internal_error.hpp"
#include "core_distance/space_core_distances.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "parallel/page_faults.hpp"
#include "search_space/search_space.hpp"

namespace corvane {

CoreDistanceResult start_core_result(std::size_t n, std::size_t k, bool keep_neighbors,
                                     const char* caller, const ExecutionContext& context) {
    if (k == 0 || k > n) {
        fail_internal(std::string(caller) + ": k = " + std::to_string(k) + " outside [1, " +
                      std::to_string(n) + "]");
    }
    CoreDistanceResult result;
    assign_faulted_in(context, result.core_distances, n, 0.0);
    if (keep_neighbors && n <= NEIGHBOUR_LIST_MAX_ROWS) {
        assign_faulted_in(context, result.neighbors, n * (k - 1), NeighbourRow{0});
    }
    return result;
}

void record_heap(const KnnHeap& heap, std::size_t row, double core_distance,
                 CoreDistanceResult& result) {
    result.core_distances[row] = core_distance;
    if (result.neighbors.empty()) return;
    write_neighbour_list(
        heap.entries(), heap.k(), row, [](std::size_t index) { return index; },
        result.neighbors.data() + row * (heap.k() - 1));
}

template <SpatialTree Tree>
CoreDistanceResult tree_core_distances(const DataMatrix& matrix, const Tree& tree, std::size_t k,
                                       bool keep_neighbors, const ExecutionContext& context) {
    if (matrix.rows != tree.n_points || matrix.cols != tree.dims) {
        fail_internal("tree_core_distances: the matrix shape does not match the tree");
    }
    return space_core_distances(tree, SquaredEuclideanSpace{}, k, keep_neighbors, context);
}

template CoreDistanceResult tree_core_distances<KdTree>(const DataMatrix&, const KdTree&,
                                                        std::size_t, bool, const ExecutionContext&);
template CoreDistanceResult tree_core_distances<BallTree>(const DataMatrix&, const BallTree&,
                                                          std::size_t, bool,
                                                          const ExecutionContext&);

}  // namespace corvane
