#include "mst/metric_trees.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core_distance/space_core_distances.hpp"
#include "mst/dual_tree_boruvka/dual_tree_boruvka.hpp"
#include "search_space/tree_spaces.hpp"
#include "training_index/training_index.hpp"

namespace corvane {
namespace {

template <class Tree, class Space>
MstResult boruvka_in_space(const Tree& tree, const Space& space, std::size_t k, double alpha,
                           const ExecutionContext& context, StageClock* clock) {
    CoreDistanceResult core = space_core_distances(tree, space, k, true, context);
    lap(clock, &StageTimes::core_distances);
    MstResult result;
    result.edges = space_dual_tree_boruvka(tree, space, core.core_distances, core.take_neighbors(),
                                           k - 1, alpha, context);
    result.core_distances = std::move(core.core_distances);
    return result;
}

// Whether no sum of powers |x - y|^p over a row can overflow: with every value at most L
// in magnitude a difference is at most 2L, and d terms of (2L)^p stay below 2^1000.
bool powers_stay_finite(const DataMatrix& data, double p) {
    double largest = 0.0;
    for (const double value : data.values)
        largest = std::max(largest, std::fabs(value));
    if (largest == 0.0) return true;
    const double columns = static_cast<double>(std::max<std::size_t>(data.cols, 1));
    return p * std::log2(2.0 * largest) + std::log2(columns) < 1000.0;
}

MstResult minkowski_family_mst(const DataMatrix& data, const Metric& metric, double alpha,
                               std::size_t k, const ExecutionContext& context, StageClock* clock) {
    const KdTree tree = KdTree::build(data, context);
    return visit_minkowski_space(metric, data.cols, [&](const auto& space) {
        return boruvka_in_space(tree, space, k, alpha, context, clock);
    });
}

// The cosine route over the prepared rows; see the header for the rows of zeros.
template <class Tree>
MstResult cosine_mst(const DataMatrix& data, const CosineRows& rows, double alpha, std::size_t k,
                     const ExecutionContext& context, StageClock* clock) {
    const std::size_t n = data.rows;
    const std::size_t zeros = n - rows.kept.size();
    const Tree tree = Tree::build(rows.unit, context);
    const CosineTreeRows exact(data, rows, tree);
    const CosineSpace space = exact.space();
    if (zeros == 0) return boruvka_in_space(tree, space, k, alpha, context, clock);

    MstResult result;
    result.core_distances.assign(n, 0.0);
    if (k > zeros + 1) {
        const CoreDistanceResult kept =
            space_core_distances(tree, space, k - zeros, false, context);
        for (std::size_t r = 0; r < rows.kept.size(); ++r)
            result.core_distances[rows.kept[r]] = kept.core_distances[r];
    }
    lap(clock, &StageTimes::core_distances);
    std::size_t hub = 0;
    while (std::binary_search(rows.kept.begin(), rows.kept.end(), hub))
        ++hub;
    result.edges.reserve(n - 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (i != hub) result.edges.push_back({hub, i, result.core_distances[i]});
    }
    return result;
}

}  // namespace

std::optional<MstResult> metric_tree_mst(const DataMatrix& data, const Metric& metric, double alpha,
                                         std::size_t k, const ExecutionContext& context,
                                         StageClock* clock) {
    if (metric.kind == MetricKind::Cosine) {
        const std::optional<CosineRows> rows = prepare_cosine_rows(data);
        if (!rows) return std::nullopt;
        if (data.cols <= TrainingIndex::MAX_KD_DIMS) {
            return cosine_mst<KdTree>(data, *rows, alpha, k, context, clock);
        }
        return cosine_mst<BallTree>(data, *rows, alpha, k, context, clock);
    }
    const bool powers =
        metric.kind == MetricKind::Minkowski && std::isfinite(metric.p) && metric.p != 1.0;
    if (powers && !powers_stay_finite(data, metric.p)) return std::nullopt;
    return minkowski_family_mst(data, metric, alpha, k, context, clock);
}

}  // namespace corvane
