#include "training_index/training_index.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <variant>

#include "ball_tree/ball_tree_bounds.hpp"
#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "training_index/blocked_nearest.hpp"
#include "training_index/metric_measures.hpp"
#include "training_index/reachability_search.hpp"
#include "tree_common/bottom_up.hpp"
#include "tree_common/depth_first.hpp"

namespace corvane {
namespace {

template <class Tree, class Measure>
NearestCandidate search(const Tree& tree, const TrainingIndex& index, const Measure& measure) {
    using Search = ReachabilitySearch<Tree, Measure>;
    return walk_depth_first(tree, Search(measure, index.core_distances, index.node_min_core))
        .nearest();
}

// Relative margin of a general Minkowski floor: a few ulps per column and per power.
double minkowski_floor_margin(std::size_t dims) {
    return 4.0 * (static_cast<double>(dims) + 4.0) * std::numeric_limits<double>::epsilon();
}

NearestCandidate nearest_minkowski_family(const TrainingIndex& index, const double* point,
                                          double* corner) {
    const KdTree& tree = std::get<KdTree>(index.tree);
    return visit_metric(index.metric, [&](const auto& kernel) {
        using Kernel = std::decay_t<decltype(kernel)>;
        const double margin = std::is_same_v<Kernel, metric_kernels::GeneralMinkowski>
                                  ? minkowski_floor_margin(index.dims)
                                  : 0.0;
        return search(tree, index, KernelMeasure<Kernel>(tree, kernel, margin, point, corner));
    });
}

// Square root of the query's sum of squares, summed as the cosine kernel sums it.
double root_norm(const double* point, std::size_t dims) {
    double sum = 0.0;
    for (std::size_t j = 0; j < dims; ++j)
        sum += point[j] * point[j];
    return std::sqrt(sum);
}

// Calls f with the tree of unit rows of a cosine index: a KdTree or a BallTree.
template <class F>
decltype(auto) visit_unit_tree(const TrainingIndex& index, F&& f) {
    if (const KdTree* kd_tree = std::get_if<KdTree>(&index.tree)) return f(*kd_tree);
    return f(std::get<BallTree>(index.tree));
}

NearestCandidate nearest_cosine(const TrainingIndex& index, const double* point, double* scratch) {
    const std::size_t dims = index.dims;
    const double root = root_norm(point, dims);
    if (root == 0.0) return index.every_row;
    const CosineSpace space = index.cosine->space();
    NearestCandidate nearest;
    // Outside the range where the unit query carries its margins, every row is measured.
    if (!std::isfinite(root) || !(root * root >= 0x1p-900)) {
        visit_unit_tree(index, [&](const auto& tree) {
            for (std::size_t position = 0; position < tree.n_points; ++position) {
                const double distance = space.exact(point, root, position, dims);
                nearest.offer(tree.indices[position],
                              one_sided_reachability(distance, index.core_distances[position]));
            }
        });
    } else {
        double* unit = scratch + dims;
        for (std::size_t j = 0; j < dims; ++j)
            unit[j] = point[j] / root;
        nearest = visit_unit_tree(index, [&](const auto& tree) {
            using Tree = std::decay_t<decltype(tree)>;
            return search(tree, index,
                          CosineMeasure<Tree>(tree, space, unit, point, root, scratch));
        });
    }
    if (index.zero_rows.found()) nearest.offer(index.zero_rows.index, index.zero_rows.reachability);
    return nearest;
}

}  // namespace

bool uses_euclidean_distance(const Metric& metric) {
    return metric.kind == MetricKind::Euclidean ||
           (metric.kind == MetricKind::Minkowski && metric.p == 2.0);
}

bool TrainingIndex::serves(const DataMatrix& training_data, const Metric& metric) {
    if (metric.kind == MetricKind::Precomputed) return false;
    if (metric.kind == MetricKind::Cosine) return prepare_cosine_rows(training_data).has_value();
    return true;
}

TrainingIndex TrainingIndex::build(const DataMatrix& training_data,
                                   std::span<const double> core_distances, const Metric& metric,
                                   const ExecutionContext& context) {
    if (core_distances.size() != training_data.rows ||
        training_data.values.size() != training_data.rows * training_data.cols ||
        metric.kind == MetricKind::Precomputed) {
        fail_internal("TrainingIndex::build: inconsistent training data");
    }
    TrainingIndex index;
    index.metric = metric;
    index.n_points = training_data.rows;
    index.dims = training_data.cols;
    if (metric.kind == MetricKind::Cosine) {
        const std::optional<CosineRows> rows = prepare_cosine_rows(training_data);
        if (!rows) fail_internal("TrainingIndex::build: cosine rows out of range");
        const auto adopt = [&](auto tree) {
            index.cosine.emplace(training_data, *rows, tree);
            for (std::size_t& row : tree.indices)
                row = rows->kept[row];
            index.tree = std::move(tree);
        };
        if (training_data.cols <= MAX_KD_DIMS) {
            adopt(KdTree::build(rows->unit, context));
        } else {
            adopt(BallTree::build(rows->unit, context));
        }
        std::size_t next_kept = 0;
        for (std::size_t row = 0; row < training_data.rows; ++row) {
            index.every_row.offer(row, core_distances[row]);
            if (next_kept < rows->kept.size() && rows->kept[next_kept] == row) {
                ++next_kept;
            } else {
                index.zero_rows.offer(row, core_distances[row]);
            }
        }
    } else if (training_data.cols <= MAX_KD_DIMS || !uses_euclidean_distance(metric)) {
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
// has a candidate, which the search would only find out by measuring every row. The
// Chebyshev kernel alone skips NaN coordinates, so there only an infinite one settles it.
NearestCandidate TrainingIndex::nearest(const double* point, double* scratch) const {
    const bool skips_nan = metric.kind == MetricKind::Minkowski && std::isinf(metric.p);
    for (std::size_t j = 0; j < dims; ++j) {
        if (std::isinf(point[j]) || (std::isnan(point[j]) && !skips_nan)) return {};
    }
    if (metric.kind == MetricKind::Cosine) return nearest_cosine(*this, point, scratch);
    if (!uses_euclidean_distance(metric)) return nearest_minkowski_family(*this, point, scratch);
    if (const KdTree* kd_tree = std::get_if<KdTree>(&tree)) {
        return search(*kd_tree, *this, EuclideanMeasure<KdTree>(*kd_tree, point, scratch));
    }
    DataMatrix one(1, dims);
    std::copy(point, point + dims, one.values.begin());
    NearestCandidate found;
    const std::size_t first = 0;
    blocked_nearest(*this, one, {&first, 1}, {&found, 1}, ExecutionContext(1));
    return found;
}

}  // namespace corvane
