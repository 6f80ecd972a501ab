#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "common/internal_error.hpp"
#include "distance/euclidean/euclidean.hpp"
#include "knn_heap/knn_heap.hpp"
#include "mst/mutual_reachability.hpp"
#include "mst/prim/prim.hpp"
#include "mst/prim/prim_internal.hpp"
#include "mst/prim/squared_weights.hpp"

namespace corvane {
namespace {

// True-unit weights max(c(x), c(y), d(x, y) / alpha) with the tree vertex as
// the outer operand; every pair is evaluated, nothing is skipped.
struct PlainRowWeights {
    const DataMatrix& data;
    const std::vector<double>& core;
    double alpha;
    static constexpr bool resort = false;

    double weight(std::size_t tree_vertex, std::size_t u, double /*current*/) const {
        const double distance =
            std::sqrt(squared_euclidean_distance(data.row_span(tree_vertex), data.row_span(u)));
        return mutual_reachability(core[tree_vertex], core[u], distance, alpha);
    }
    static double reported(double best) { return best; }
};

}  // namespace

MstResult prim_euclidean_mst(const DataMatrix& data, std::vector<double> core_distances,
                             double alpha, const ExecutionContext& context) {
    if (core_distances.size() != data.rows) {
        fail_internal("prim_euclidean_mst: " + std::to_string(core_distances.size()) +
                      " core distances for " + std::to_string(data.rows) + " rows");
    }
    MstResult result;
    if (alpha == 1.0) {
        std::vector<double> core_sq(core_distances.size());
        for (std::size_t i = 0; i < core_sq.size(); ++i)
            core_sq[i] = core_distances[i] * core_distances[i];
        prim_detail::SquaredWeights weights{core_sq, [&](std::size_t a, std::size_t b) {
                                                return squared_euclidean_distance(data.row_span(a),
                                                                                  data.row_span(b));
                                            }};
        result.edges = prim_detail::prim_on_rows(data.rows, weights, context);
    } else {
        PlainRowWeights weights{data, core_distances, alpha};
        result.edges = prim_detail::prim_on_rows(data.rows, weights, context);
    }
    result.core_distances = std::move(core_distances);
    return result;
}

std::vector<double> euclidean_brute_core_distances(const DataMatrix& data, std::size_t k,
                                                   const ExecutionContext& context) {
    const std::size_t n = data.rows;
    std::vector<double> core(n, 0.0);
    if (n == 0) return core;
    prim_detail::check_neighbour_count(k, n);
    KnnHeap heap(k);
    for (std::size_t i = 0; i < n; ++i) {
        context.check();
        heap.clear();
        for (std::size_t j = 0; j < n; ++j)
            heap.push(j, squared_euclidean_distance(data.row_span(i), data.row_span(j)));
        core[i] = std::sqrt(heap.max_distance());
    }
    return core;
}

}  // namespace corvane
