#include "mst/compute_mst.hpp"

#include <algorithm>

#include "ball_tree/ball_tree.hpp"
#include "common/internal_error.hpp"
#include "core_distance/core_distance.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "mst/mst_route.hpp"
#include "mst/prim/prim.hpp"

namespace corvane {
namespace {

// Every distance is 0: all core distances are 0 and every vertex joins
// vertex 0 at weight 0, the tree Prim builds on an all-zero graph.
MstResult zero_distance_mst(std::size_t n) {
    MstResult result;
    result.core_distances.assign(n, 0.0);
    if (n > 1) result.edges.reserve(n - 1);
    for (std::size_t v = 1; v < n; ++v)
        result.edges.push_back({0, v, 0.0});
    return result;
}

template <class Tree>
MstResult boruvka_route(const DataMatrix& data, std::size_t k, double alpha) {
    const Tree tree = Tree::build(data);
    CoreDistanceResult core = tree_core_distances(data, tree, k, true);
    MstResult result;
    result.edges = dual_tree_boruvka(tree, core.core_distances, core.neighbors, k - 1, alpha);
    result.core_distances = std::move(core.core_distances);
    return result;
}

template <class Tree>
MstResult tree_core_prim_route(const DataMatrix& data, std::size_t k, double alpha) {
    std::vector<double> core_distances;
    {
        const Tree tree = Tree::build(data);
        core_distances = tree_core_distances(data, tree, k, false).core_distances;
    }
    return prim_euclidean_mst(data, core_distances, alpha);
}

}  // namespace

MstResult compute_mst(const DataMatrix& data, const Metric& metric, double alpha,
                      std::size_t min_samples) {
    const std::size_t n = data.rows;
    const std::size_t k = std::min(min_samples, n);
    switch (choose_mst_route(metric, n, data.cols, alpha)) {
        case MstRoute::NoColumns:
            return zero_distance_mst(n);
        case MstRoute::PrimDense:
            return prim_dense_mst(data, metric, k, alpha);
        case MstRoute::BoruvkaKdTree:
            return boruvka_route<KdTree>(data, k, alpha);
        case MstRoute::BoruvkaBallTree:
            return boruvka_route<BallTree>(data, k, alpha);
        case MstRoute::PrimGram:
            return prim_gram_mst(data, k);
        case MstRoute::PrimKdTreeCore:
            return tree_core_prim_route<KdTree>(data, k, alpha);
        case MstRoute::PrimBallTreeCore:
            return tree_core_prim_route<BallTree>(data, k, alpha);
        case MstRoute::PrimBruteCore:
            return prim_euclidean_mst(data, euclidean_brute_core_distances(data, k), alpha);
    }
    fail_internal("unknown minimum spanning tree route");
}

}  // namespace corvane
