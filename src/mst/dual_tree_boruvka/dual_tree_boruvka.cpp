#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "ball_tree/ball_tree.hpp"
#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/boruvka_run.hpp"
#include "mst/dual_tree_boruvka/dual_tree_search.hpp"
#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "mst/dual_tree_boruvka/parallel_search.hpp"
#include "mst/mutual_reachability.hpp"
#include "parallel/checked_sort.hpp"
#include "union_find/union_find.hpp"

namespace corvane {

template <class Tree>
std::vector<MstEdge> dual_tree_boruvka(const Tree& tree, std::span<const double> core_distances,
                                       std::vector<std::size_t> neighbors,
                                       std::size_t neighbors_per_point, double alpha,
                                       const ExecutionContext& context) {
    const std::size_t n = tree.n_points;
    if (core_distances.size() != n) {
        fail_internal("dual_tree_boruvka: " + std::to_string(core_distances.size()) +
                      " core distances for " + std::to_string(n) + " points");
    }
    if (neighbors.size() != n * neighbors_per_point) {
        fail_internal("dual_tree_boruvka: neighbour matrix of " + std::to_string(neighbors.size()) +
                      " entries for " + std::to_string(n) + " x " +
                      std::to_string(neighbors_per_point));
    }
    if (n <= 1) return {};
    return boruvka_detail::BoruvkaRun<Tree>(tree, core_distances, alpha, context)
        .run(std::move(neighbors), neighbors_per_point,
             [&tree](std::size_t workers, const ExecutionContext& run_context) {
                 return ParallelSearch<Tree>(tree, workers, run_context);
             });
}

template std::vector<MstEdge> dual_tree_boruvka(const KdTree&, std::span<const double>,
                                                std::vector<std::size_t>, std::size_t, double,
                                                const ExecutionContext&);
template std::vector<MstEdge> dual_tree_boruvka(const BallTree&, std::span<const double>,
                                                std::vector<std::size_t>, std::size_t, double,
                                                const ExecutionContext&);

}  // namespace corvane
