#pragma once

#include <cstddef>
#include <optional>

#include "common/data_matrix.hpp"
#include "common/metric.hpp"
#include "common/mst_edge.hpp"
#include "common/stage_clock.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Core distances and the spanning tree under manhattan, minkowski (any p >= 1, infinity
// included) and cosine through the spatial trees: core distances from kNN searches and
// dual-tree Boruvka, both in the search space of the metric
// (search_space/search_space.hpp). The Minkowski family searches a KdTree over the rows;
// cosine a KdTree (up to 16 columns) or a BallTree over the rows scaled to unit length.
//
// Every distance that decides anything is the metric's kernel (compute_distance), so the
// core distances equal those of the dense route bit for bit, and the edges form a
// minimum spanning tree of the same weights (among equal weights possibly another one).
//
// Rows of zeros under cosine, at distance 0 from every row, are handled apart: with z of
// them every other row has z + 1 neighbours at distance 0, itself included, so its core
// distance is its (k - z)-th nearest among the other rows (0 when k <= z + 1), and every
// edge at a row weighs at least that row's core distance, which is exactly the weight of
// its edge to a zero row: the star around the first zero row is a minimum spanning tree.
//
// Returns nothing when the data does not suit the trees' margins (see
// metric_trees_apply), for the caller to take the dense route.
std::optional<MstResult> metric_tree_mst(const DataMatrix& data, const Metric& metric, double alpha,
                                         std::size_t k,
                                         const ExecutionContext& context = ExecutionContext(),
                                         StageClock* clock = nullptr);

}  // namespace corvane
