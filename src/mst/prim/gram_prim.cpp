#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

#include "knn_heap/knn_heap.hpp"
#include "mst/prim/gram_matrix.hpp"
#include "mst/prim/prim.hpp"
#include "mst/prim/prim_internal.hpp"
#include "mst/prim/squared_weights.hpp"
#include "parallel/parallel.hpp"

namespace corvane {
namespace {

// Squared distances s(i) + s(j) - 2 G[i][j] with the negative rounding residue
// clamped to 0. An overflowing norm can make the expression NaN (inf - inf); it
// counts as +infinity, like any distance too large to represent.
struct GramDistances {
    const GramMatrix& gram;
    std::vector<double> norm_sq;

    explicit GramDistances(const GramMatrix& g) : gram(g), norm_sq(g.n) {
        for (std::size_t i = 0; i < g.n; ++i)
            norm_sq[i] = g.at(i, i);
    }

    double operator()(std::size_t i, std::size_t j) const {
        const double d2 = norm_sq[i] + norm_sq[j] - 2.0 * gram.at(i, j);
        if (d2 >= 0.0) return d2;
        return std::isnan(d2) ? std::numeric_limits<double>::infinity() : 0.0;
    }
};

// Squared core distances: the (k-1)-th smallest squared distance to the other
// points, which is the k-th smallest counting the point itself at 0. Each row
// depends only on the shared Gram matrix, so the thread count cannot change it.
std::vector<double> gram_core_distances_sq(const GramDistances& distances, std::size_t k,
                                           const ExecutionContext& context) {
    const std::size_t n = distances.gram.n;
    std::vector<double> core_sq(n, 0.0);
    if (k < 2) return core_sq;
    for_each_row_chunk(context, n, [&](RowChunk rows) {
        KnnHeap heap(k - 1);
        for (std::size_t i = rows.start; i < rows.end; ++i) {
            heap.clear();
            for (std::size_t j = 0; j < i; ++j)
                heap.push(j, distances(i, j));
            for (std::size_t j = i + 1; j < n; ++j)
                heap.push(j, distances(i, j));
            const double root = heap.max_distance();
            core_sq[i] = root >= std::numeric_limits<double>::infinity() ? 0.0 : root;
        }
    });
    return core_sq;
}

}  // namespace

MstResult prim_gram_mst(const DataMatrix& data, std::size_t k, const ExecutionContext& context,
                        StageClock* clock) {
    const std::size_t n = data.rows;
    MstResult result;
    result.core_distances.assign(n, 0.0);
    if (n <= 1) return result;
    prim_detail::check_neighbour_count(k, n);

    const GramMatrix gram = gram_matrix(centred_columns(data), context);
    const GramDistances distances(gram);
    const std::vector<double> core_sq = gram_core_distances_sq(distances, k, context);
    for (std::size_t i = 0; i < n; ++i)
        result.core_distances[i] = std::sqrt(core_sq[i]);
    lap(clock, &StageTimes::core_distances);

    prim_detail::SquaredWeights weights{core_sq, std::cref(distances)};
    result.edges = prim_detail::prim_on_rows(n, weights, context);
    return result;
}

}  // namespace corvane
