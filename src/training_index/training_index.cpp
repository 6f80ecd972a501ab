#include "training_index/training_index.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <variant>

#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "training_index/blocked_nearest.hpp"
#include "training_index/reachability_search.hpp"
#include "tree_common/bottom_up.hpp"
#include "tree_common/depth_first.hpp"

namespace corvane {

bool uses_euclidean_distance(const Metric& metric) {
    return metric.kind == MetricKind::Euclidean ||
           (metric.kind == MetricKind::Minkowski && metric.p == 2.0);
}

TrainingIndex TrainingIndex::build(const DataMatrix& training_data,
                                   std::span<const double> core_distances,
                                   const ExecutionContext& context) {
    if (core_distances.size() != training_data.rows ||
        training_data.values.size() != training_data.rows * training_data.cols) {
        fail_internal("TrainingIndex::build: inconsistent training data");
    }
    TrainingIndex index;
    index.n_points = training_data.rows;
    index.dims = training_data.cols;
    if (training_data.cols <= MAX_KD_DIMS) {
        index.tree = KdTree::build(training_data, context);
    } else {
        index.tree = BlockTree::build(training_data, context);
    }
    std::visit(
        [&](const auto& tree) {
            index.core_distances.resize(tree.n_points);
            for (std::size_t position = 0; position < tree.n_points; ++position) {
                index.core_distances[position] = core_distances[tree.indices[position]];
            }
            index.node_min_core.resize(tree.nodes.size());
            smallest_per_node(tree, index.core_distances, index.node_min_core, 0,
                              tree.nodes.size());
        },
        index.tree);
    return index;
}

// A query with a NaN coordinate has a NaN distance to every row, and one with an
// infinite coordinate an infinite or NaN distance, because the rows are finite; neither
// has a candidate, which the search would only find out by measuring every row.
NearestCandidate TrainingIndex::nearest(const double* point, double* scratch) const {
    for (std::size_t j = 0; j < dims; ++j) {
        if (!std::isfinite(point[j])) return {};
    }
    if (const KdTree* kd_tree = std::get_if<KdTree>(&tree)) {
        using Search = ReachabilitySearch<KdTree>;
        const Search search = walk_depth_first(
            *kd_tree, Search(*kd_tree, core_distances, node_min_core, point, scratch));
        return search.nearest();
    }
    DataMatrix one(1, dims);
    std::copy(point, point + dims, one.values.begin());
    NearestCandidate found;
    const std::size_t first = 0;
    blocked_nearest(*this, one, {&first, 1}, {&found, 1}, ExecutionContext(1));
    return found;
}

}  // namespace corvane
