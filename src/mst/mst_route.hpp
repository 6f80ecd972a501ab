#pragma once

#include <cstddef>

#include "common/metric.hpp"

namespace corvane {

// How the minimum spanning tree of one fit is computed.
enum class MstRoute {
    BoruvkaKdTree,     // Euclidean, n above the threshold, d <= 16
    BlockedBoruvka,    // Euclidean, d >= 17: blocked core distances and Boruvka (block_search)
    PrimKdTreeCore,    // Euclidean, small n, d <= 10: KD-tree core distances, Prim on rows
    PrimBallTreeCore,  // Euclidean, small n, 11 <= d <= 16: ball tree core distances
    PrimDense,         // every other metric, including Precomputed
    NoColumns,         // zero columns under a computed metric: every distance is 0
};

// Columns from which Euclidean inputs take the blocked route, whatever their size.
inline constexpr std::size_t BLOCKED_MIN_COLUMNS = 17;

// Row count above which Euclidean inputs with d columns go to dual-tree Boruvka.
std::size_t boruvka_threshold(std::size_t d);

MstRoute choose_mst_route(const Metric& metric, std::size_t n, std::size_t d, double alpha);

// A generous estimate of the working memory of a route beyond the data
// itself, for refusing fits that cannot fit before they start.
std::size_t mst_working_bytes(MstRoute route, std::size_t n, std::size_t d, std::size_t k);

}  // namespace corvane
