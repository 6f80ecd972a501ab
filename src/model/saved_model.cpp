#include "model/saved_model.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "common/memory_guard.hpp"
#include "hdbscan/input_validation.hpp"
#include "linkage/edge_order.hpp"
#include "model/magnitude_scaling.hpp"
#include "union_find/union_find.hpp"

namespace corvane {
namespace {

using Refusal = std::optional<SavedModelError>;

Refusal refuse(std::string field, std::string reason) {
    return SavedModelError{std::move(field), std::move(reason)};
}

// The fit's own checks of its parameters and data, with their messages.
Refusal check_as_fit_input(const SavedModel& saved) {
    HdbscanParams params;
    params.metric = saved.metric;
    params.min_cluster_size = saved.min_cluster_size;
    params.min_samples = saved.min_samples;
    if (saved.selection.max_cluster_size != SelectionParams::NO_SIZE_CAP) {
        params.max_cluster_size = saved.selection.max_cluster_size;
    }
    const std::optional<HdbscanError> error = validate_fit_input(params, saved.training_data);
    if (!error) return std::nullopt;
    switch (error->kind) {
        case ErrorKind::MinClusterSizeTooSmall:
            return refuse("min_cluster_size", error->message());
        case ErrorKind::MinSamplesTooSmall:
        case ErrorKind::MinSamplesExceedsPoints:
            return refuse("min_samples", error->message());
        case ErrorKind::InvalidMinkowskiP:
            return refuse("p", error->message());
        case ErrorKind::MaxClusterSizeTooSmall:
            return refuse("max_cluster_size", error->message());
        default:
            return refuse("training_data", error->message());
    }
}

// The relation of the two epsilons was checked by the fit in the units of the data; in
// the model's units both may have rounded to infinity, so only NaN is refused here.
Refusal check_epsilon_max(const SavedModel& saved) {
    if (std::isnan(saved.selection.epsilon_max)) {
        return refuse("cluster_selection_epsilon_max", "must not be NaN");
    }
    return std::nullopt;
}

Refusal check_core_distances(const SavedModel& saved) {
    if (saved.core_distances.size() != saved.training_data.rows) {
        return refuse("core_distances", "holds " + std::to_string(saved.core_distances.size()) +
                                            " values for " +
                                            std::to_string(saved.training_data.rows) + " points");
    }
    for (const double value : saved.core_distances) {
        if (!std::isfinite(value) || value < 0.0) {
            return refuse("core_distances", "must be finite and not negative");
        }
    }
    return std::nullopt;
}

// Edges that a fit could have kept: n - 1 of them between distinct points, weights not NaN
// or negative, in merge order, each joining two parts not yet joined (so all n points).
Refusal check_spanning_tree(const SavedModel& saved) {
    const std::size_t n = saved.training_data.rows;
    const std::vector<MstEdge>& edges = saved.spanning_tree;
    if (edges.size() != n - 1) {
        return refuse("spanning_tree", "holds " + std::to_string(edges.size()) + " edges for " +
                                           std::to_string(n) + " points");
    }
    UnionFind parts(n);
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const MstEdge& edge = edges[i];
        if (edge.a >= n) return refuse("spanning_tree_a", "an endpoint is out of range");
        if (edge.b >= n) return refuse("spanning_tree_b", "an endpoint is out of range");
        if (std::isnan(edge.weight) || edge.weight < 0.0) {
            return refuse("spanning_tree_weight", "must not be NaN or negative");
        }
        if (i > 0 && !merge_order_less(edges[i - 1], edge)) {
            return refuse("spanning_tree", "edges are not in merge order");
        }
        const std::size_t a = parts.find(edge.a);
        const std::size_t b = parts.find(edge.b);
        if (a == b) return refuse("spanning_tree", "edges do not form a tree over the points");
        parts.unite(a, b);
    }
    return std::nullopt;
}

Refusal check_parts(const SavedModel& saved) {
    if (Refusal refusal = check_as_fit_input(saved)) return refusal;
    if (!is_magnitude_shift_of(saved.training_data, saved.metric, saved.magnitude_shift)) {
        return refuse("magnitude_shift", "does not match the training data");
    }
    if (Refusal refusal = check_epsilon_max(saved)) return refusal;
    if (Refusal refusal = check_core_distances(saved)) return refusal;
    return check_spanning_tree(saved);
}

}  // namespace

std::expected<FittedModel, SavedModelError> restore_model(SavedModel saved,
                                                          const ExecutionContext& context) {
    if (Refusal refusal = check_parts(saved)) return std::unexpected(std::move(*refusal));
    require_memory(HIERARCHY_BYTES_PER_POINT * saved.training_data.rows);
    context.check();
    FittedModel model;
    model.metric = saved.metric;
    model.magnitude_shift = saved.magnitude_shift;
    model.min_samples = saved.min_samples;
    model.alpha = saved.alpha;
    const std::size_t n = saved.training_data.rows;
    model.training_data = std::move(saved.training_data);
    model.core_distances = std::move(saved.core_distances);
    model.hierarchy = link_hierarchy(std::move(saved.spanning_tree), n, context);
    HierarchySelection selected =
        select_hierarchy(model.hierarchy, saved.min_cluster_size, saved.selection, context);
    install_selection(model, selected);
    return model;
}

}  // namespace corvane
