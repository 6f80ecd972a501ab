#pragma once

#include <cstddef>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "common/mst_edge.hpp"
#include "common/stage_clock.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Minimum spanning trees of the mutual-reachability graph by Prim's algorithm,
// and the brute-force core distances they need. Every route starts from vertex
// 0, lets the lowest vertex number win among equal weights, and returns the
// n - 1 edges in the order the vertices joined, each as (tree vertex, new
// vertex, weight in true units). k is the neighbour count, 1 <= k <= n, with a
// point counting as its own nearest neighbour.

// Dense route for manhattan, cosine, minkowski and precomputed `data` (n x n
// matrix). Core distance of i: the k-th smallest distance from i, itself
// included at distance 0 (under precomputed: the k-th smallest entry of row i,
// diagonal included). The tree reads only entries above the diagonal of a
// precomputed matrix. Working memory is O(n): distances are evaluated when
// needed, each pair once for the tree. The core distances and the tree's
// weight updates run on up to context.threads() threads; the result does not
// depend on the count. `clock`, when given, is charged with the core distances.
MstResult prim_dense_mst(const DataMatrix& data, const Metric& metric, std::size_t k, double alpha,
                         const ExecutionContext& context = ExecutionContext(),
                         StageClock* clock = nullptr);

// Euclidean route on the rows with given core distances (one per row): squared
// weights when alpha is exactly 1, plain weights otherwise. On the calling thread.
MstResult prim_euclidean_mst(const DataMatrix& data, std::vector<double> core_distances,
                             double alpha, const ExecutionContext& context = ExecutionContext());

// Euclidean core distances by exhaustive search: for each row, the k-th
// smallest distance to all rows, itself included. On the calling thread; the
// slow reference of the faster core-distance searches.
std::vector<double> euclidean_brute_core_distances(
    const DataMatrix& data, std::size_t k, const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
