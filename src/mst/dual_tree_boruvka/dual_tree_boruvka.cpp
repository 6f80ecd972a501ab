#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"

#include <string>
#include <utility>

#include "common/internal_error.hpp"
#include "mst/dual_tree_boruvka/boruvka_run.hpp"
#include "mst/dual_tree_boruvka/parallel_search.hpp"
#include "search_space/tree_spaces.hpp"

namespace corvane {

template <class Tree, class Space>
std::vector<MstEdge> space_dual_tree_boruvka(const Tree& tree, const Space& space,
                                             std::span<const double> core_distances,
                                             NeighbourLists neighbors,
                                             std::size_t neighbors_per_point, double alpha,
                                             const ExecutionContext& context) {
    const std::size_t n = tree.n_points;
    if (core_distances.size() != n) {
        fail_internal("dual_tree_boruvka: " + std::to_string(core_distances.size()) +
                      " core distances for " + std::to_string(n) + " points");
    }
    if (!neighbors.rows.empty() && neighbors.rows.size() != n * neighbors_per_point) {
        fail_internal("dual_tree_boruvka: neighbour matrix of " +
                      std::to_string(neighbors.rows.size()) + " entries for " + std::to_string(n) +
                      " x " + std::to_string(neighbors_per_point));
    }
    if (n <= 1) return {};
    return boruvka_detail::BoruvkaRun<Tree, Space>(tree, space, core_distances, alpha, context)
        .run(std::move(neighbors), neighbors_per_point,
             [&tree](std::size_t workers, const ExecutionContext& run_context) {
                 return ParallelSearch<Tree, Space>(tree, workers, run_context);
             });
}

template <class Tree>
std::vector<MstEdge> dual_tree_boruvka(const Tree& tree, std::span<const double> core_distances,
                                       NeighbourLists neighbors, std::size_t neighbors_per_point,
                                       double alpha, const ExecutionContext& context) {
    return space_dual_tree_boruvka(tree, SquaredEuclideanSpace{}, core_distances,
                                   std::move(neighbors), neighbors_per_point, alpha, context);
}

template std::vector<MstEdge> dual_tree_boruvka(const KdTree&, std::span<const double>,
                                                NeighbourLists, std::size_t, double,
                                                const ExecutionContext&);
template std::vector<MstEdge> dual_tree_boruvka(const BallTree&, std::span<const double>,
                                                NeighbourLists, std::size_t, double,
                                                const ExecutionContext&);

#define CORVANE_INSTANTIATE(TREE, SPACE)                                                         \
    template std::vector<MstEdge> space_dual_tree_boruvka(                                       \
        const TREE&, const SPACE&, std::span<const double>, NeighbourLists, std::size_t, double, \
        const ExecutionContext&);
CORVANE_FOR_EACH_TREE_SPACE(CORVANE_INSTANTIATE)
#undef CORVANE_INSTANTIATE

}  // namespace corvane
