#include "mst/compute_mst.hpp"

#include <algorithm>
#include <optional>
#include <type_traits>
#include <utility>

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "common/internal_error.hpp"
#include "core_distance/blocked_core_distances.hpp"
#include "core_distance/core_distance.hpp"
#include "core_distance/group_core_distances.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/blocked_boruvka/blocked_boruvka.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "mst/metric_trees.hpp"
#include "mst/mst_route.hpp"
#include "mst/prim/prim.hpp"
#include "tree_common/input_order.hpp"

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

// The tree takes the matrix's rows for the searches and gives them back in input order
// once the spanning tree is found, so that the rows are held once.
MstResult kd_boruvka_route(DataMatrix& data, std::size_t k, double alpha,
                           const ExecutionContext& context, StageClock* clock) {
    KdTree tree = KdTree::build(std::move(data.values), data.rows, data.cols, context);
    CoreDistanceResult core =
        kd_group_core_distances(tree, k, true, context, ListNaming::tree_positions);
    lap(clock, &StageTimes::core_distances);
    MstResult result;
    result.edges =
        dual_tree_boruvka(tree, core.core_distances, core.take_neighbors(), k - 1, alpha, context);
    data.values = input_order_rows(std::move(tree), context);
    result.core_distances = std::move(core.core_distances);
    return result;
}

MstResult blocked_route(const DataMatrix& data, std::size_t k, double alpha,
                        const ExecutionContext& context, StageClock* clock) {
    const BlockTree tree = BlockTree::build(data, context);
    CoreDistanceResult core = blocked_core_distances(tree, k, true, context);
    lap(clock, &StageTimes::core_distances);
    MstResult result;
    result.edges =
        blocked_boruvka(tree, core.core_distances, core.take_neighbors(), k - 1, alpha, context);
    result.core_distances = std::move(core.core_distances);
    return result;
}

template <class Tree>
std::vector<double> tree_core_distances_only(const DataMatrix& data, std::size_t k,
                                             const ExecutionContext& context) {
    const Tree tree = Tree::build(data, context);
    if constexpr (std::is_same_v<Tree, KdTree>) {
        return kd_group_core_distances(tree, k, false, context).core_distances;
    } else {
        return tree_core_distances(data, tree, k, false, context).core_distances;
    }
}

MstResult rows_prim_route(const DataMatrix& data, std::vector<double> core_distances, double alpha,
                          const ExecutionContext& context, StageClock* clock) {
    lap(clock, &StageTimes::core_distances);
    return prim_euclidean_mst(data, std::move(core_distances), alpha, context);
}

MstResult route_mst(DataMatrix& data, const Metric& metric, double alpha, std::size_t k,
                    const ExecutionContext& context, StageClock* clock) {
    const std::size_t n = data.rows;
    switch (choose_mst_route(metric, n, data.cols, alpha)) {
        case MstRoute::NoColumns:
            return zero_distance_mst(n);
        case MstRoute::PrimDense:
            return prim_dense_mst(data, metric, k, alpha, context, clock);
        case MstRoute::MetricTrees: {
            std::optional<MstResult> result =
                metric_tree_mst(data, metric, alpha, k, context, clock);
            if (result) return std::move(*result);
            return prim_dense_mst(data, metric, k, alpha, context, clock);
        }
        case MstRoute::BoruvkaKdTree:
            return kd_boruvka_route(data, k, alpha, context, clock);
        case MstRoute::BlockedBoruvka:
            return blocked_route(data, k, alpha, context, clock);
        case MstRoute::PrimKdTreeCore:
            return rows_prim_route(data, tree_core_distances_only<KdTree>(data, k, context), alpha,
                                   context, clock);
        case MstRoute::PrimBallTreeCore:
            return rows_prim_route(data, tree_core_distances_only<BallTree>(data, k, context),
                                   alpha, context, clock);
    }
    fail_internal("unknown minimum spanning tree route");
}

}  // namespace

MstResult compute_mst(DataMatrix& data, const Metric& metric, double alpha, std::size_t min_samples,
                      const ExecutionContext& context, StageClock* clock) {
    MstResult result =
        route_mst(data, metric, alpha, std::min(min_samples, data.rows), context, clock);
    lap(clock, &StageTimes::spanning_tree);
    return result;
}

}  // namespace corvane
