#include "prediction/prediction_index.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <variant>

#include "common/internal_error.hpp"
#include "prediction/blocked_nearest.hpp"
#include "prediction/index_search.hpp"

namespace corvane {
namespace {

// Core distances in tree order and the smallest one under every node. Nodes are in
// preorder, so children come after their parent and one backward pass suffices.
template <class Tree>
void gather_core_distances(const Tree& tree, const std::vector<double>& core_distances,
                           PredictionIndex& index) {
    index.core_distances.resize(tree.n_points);
    for (std::size_t position = 0; position < tree.n_points; ++position) {
        index.core_distances[position] = core_distances[tree.indices[position]];
    }
    index.node_min_core.assign(tree.nodes.size(), std::numeric_limits<double>::infinity());
    for (std::size_t node = tree.nodes.size(); node-- > 0;) {
        const auto& record = tree.nodes[node];
        double& smallest = index.node_min_core[node];
        if (record.is_leaf) {
            for (std::size_t position = record.start; position < record.end; ++position) {
                if (index.core_distances[position] < smallest) {
                    smallest = index.core_distances[position];
                }
            }
            continue;
        }
        for (const std::size_t child : {record.left, record.right}) {
            if (child != NO_NODE && index.node_min_core[child] < smallest) {
                smallest = index.node_min_core[child];
            }
        }
    }
}

}  // namespace

bool uses_euclidean_distance(const Metric& metric) {
    return metric.kind == MetricKind::Euclidean ||
           (metric.kind == MetricKind::Minkowski && metric.p == 2.0);
}

PredictionIndex PredictionIndex::build(const PredictionData& model) {
    if (!uses_euclidean_distance(model.metric)) {
        fail_internal("PredictionIndex::build: the model's metric is not Euclidean");
    }
    const DataMatrix& data = model.training_data;
    if (data.rows != model.n || data.cols != model.n_features ||
        model.core_distances.size() != model.n) {
        fail_internal("PredictionIndex::build: inconsistent prediction data");
    }
    PredictionIndex index;
    index.n_points = data.rows;
    index.dims = data.cols;
    if (data.cols <= MAX_KD_DIMS) {
        index.tree = KdTree::build(data);
    } else {
        index.tree = BlockTree::build(data);
    }
    std::visit(
        [&](const auto& any_tree) { gather_core_distances(any_tree, model.core_distances, index); },
        index.tree);
    return index;
}

// A query with a NaN coordinate has a NaN distance to every row, and one with an
// infinite coordinate an infinite or NaN distance, because the rows are finite; neither
// has a candidate, which the search would only find out by measuring every row.
NearestCandidate PredictionIndex::nearest(const double* point, double* scratch) const {
    for (std::size_t j = 0; j < dims; ++j) {
        if (!std::isfinite(point[j])) return {};
    }
    if (const KdTree* kd_tree = std::get_if<KdTree>(&tree)) {
        return IndexSearch<KdTree>(*kd_tree, *this, point, scratch).run();
    }
    DataMatrix one(1, dims);
    std::copy(point, point + dims, one.values.begin());
    NearestCandidate found;
    const std::size_t first = 0;
    blocked_nearest(*this, one, {&first, 1}, {&found, 1}, 1);
    return found;
}

}  // namespace corvane
