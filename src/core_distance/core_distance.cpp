#include "core_distance/core_distance.hpp"

#include "ball_tree/ball_tree_bounds.hpp"
#include "common/internal_error.hpp"
#include "core_distance/space_core_distances.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "search_space/search_space.hpp"

namespace corvane {

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
