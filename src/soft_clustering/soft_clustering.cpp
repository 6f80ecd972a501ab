#include "soft_clustering/soft_clustering.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <numeric>
#include <span>
#include <utility>

#include "common/internal_error.hpp"
#include "common/memory_guard.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "exemplars/cluster_exemplars.hpp"
#include "model_exports/cluster_exports.hpp"
#include "outlier/glosh.hpp"
#include "parallel/parallel.hpp"
#include "prediction/prediction.hpp"
#include "soft_clustering/exemplar_distances.hpp"
#include "soft_clustering/membership_row.hpp"

namespace corvane {
namespace {

// What every row reads: the condensed tree's index, the merge heights of the selection and
// the distances to the exemplars. Built only for a model with at least one cluster.
struct SoftModel {
    CondensedIndex index;
    MergeHeights heights;
    ExemplarDistances exemplars;

    SoftModel(const FittedModel& model, CondensedIndex condensed, const ExecutionContext& context)
        : index(std::move(condensed)),
          heights(index, model.hierarchy.selection),
          exemplars(model.training_data, model.metric, model_exemplars(model, index), context) {}

    // The exemplars of the model's clusters, in label order.
    static PointsByCluster model_exemplars(const FittedModel& model, const CondensedIndex& index) {
        return cluster_exemplars(index, model.labels, cluster_count(model));
    }

    std::size_t clusters() const { return heights.clusters(); }
    TreePlace place_of(std::size_t point) const {
        return {index.parent[point], index.lambda[point]};
    }
};

// Where a new point joins the tree through its nearest training point q at reachability
// r: it leaves q's cluster at min(1 / r, lambda_q).
TreePlace joined_place(const CondensedIndex& index, const NearestCandidate& nearest) {
    const std::size_t q = nearest.index;
    return {index.parent[q], std::min(1.0 / nearest.reachability, index.lambda[q])};
}

// Writes rows into a Memberships, dense or as each row's top k.
class RowWriter {
  public:
    RowWriter(std::size_t rows, std::size_t clusters, std::optional<std::size_t> top_k)
        : clusters_(clusters), top_k_(top_k) {
        out_.rows = rows;
        out_.columns = top_k ? *top_k : clusters;
        out_.probabilities.assign(checked_size(rows, out_.columns), 0.0);
        if (top_k) out_.labels.assign(rows * out_.columns, -1);
    }

    // A row of zeros, with top k the labels of its first k entries (all equal).
    void zeros(std::size_t row) {
        if (!top_k_) return;
        std::int32_t* labels = out_.labels.data() + row * out_.columns;
        const std::size_t shown = std::min(out_.columns, clusters_);
        for (std::size_t j = 0; j < shown; ++j)
            labels[j] = static_cast<std::int32_t>(j);
    }

    // `order` is scratch space for clusters() indices.
    void write(std::size_t row, std::span<const double> vector, std::span<std::size_t> order) {
        double* probabilities = out_.probabilities.data() + row * out_.columns;
        if (!top_k_) {
            std::copy(vector.begin(), vector.end(), probabilities);
            return;
        }
        const std::size_t shown = std::min(out_.columns, clusters_);
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown),
                          order.end(), [&](std::size_t a, std::size_t b) {
                              return vector[a] > vector[b] || (vector[a] == vector[b] && a < b);
                          });
        std::int32_t* labels = out_.labels.data() + row * out_.columns;
        for (std::size_t j = 0; j < shown; ++j) {
            labels[j] = static_cast<std::int32_t>(order[j]);
            probabilities[j] = vector[order[j]];
        }
    }

    Memberships take() { return std::move(out_); }

  private:
    // rows x columns entries, each a probability and, with top k, a label; refused before
    // anything is allocated when they cannot fit in memory.
    std::size_t checked_size(std::size_t rows, std::size_t columns) const {
        constexpr std::size_t entry = sizeof(double) + sizeof(std::int32_t);
        if (columns != 0 && rows > std::numeric_limits<std::size_t>::max() / entry / columns) {
            throw std::bad_alloc();
        }
        require_memory(rows * columns * (top_k_ ? entry : sizeof(double)));
        return rows * columns;
    }

    std::size_t clusters_;
    std::optional<std::size_t> top_k_;
    Memberships out_;
};

// Fills the rows [0, rows) over the threads of `context`. `row_input(i, place)` returns
// the point's coordinates (or precomputed distances) and sets its place, or returns
// nullptr for a row of zeros.
template <class RowInput>
Memberships fill_rows(const SoftModel& soft, std::size_t rows, std::optional<std::size_t> top_k,
                      const ExecutionContext& context, RowInput&& row_input) {
    const std::size_t k = soft.clusters();
    RowWriter writer(rows, k, top_k);
    for_each_row_chunk(context, rows, [&](RowChunk chunk) {
        std::vector<double> scratch(3 * k + soft.exemplars.scratch_size());
        std::vector<std::size_t> order(k);
        const std::span<double> vector(scratch.data(), k);
        const std::span<double> merge(scratch.data() + k, k);
        const std::span<double> outlier(scratch.data() + 2 * k, k);
        double* measure_scratch = scratch.data() + 3 * k;
        for (std::size_t i = chunk.start; i < chunk.end; ++i) {
            TreePlace place;
            const double* point = row_input(i, place);
            if (point == nullptr) {
                writer.zeros(i);
                continue;
            }
            soft.exemplars.measure(point, vector, measure_scratch);
            membership_row(soft.heights, place, vector, merge, outlier);
            writer.write(i, vector, order);
        }
    });
    return writer.take();
}

// Rows for a model without clusters: no columns, or k columns of padding.
Memberships no_clusters(std::size_t rows, std::optional<std::size_t> top_k) {
    RowWriter writer(rows, 0, top_k);
    return writer.take();
}

}  // namespace

Memberships all_points_membership_vectors(const FittedModel& model,
                                          std::optional<std::size_t> top_k,
                                          const ExecutionContext& context) {
    if (cluster_count(model) == 0) return no_clusters(model.n(), top_k);
    const SoftModel soft(model, index_condensed_tree(model.hierarchy.condensed), context);
    context.check();
    return fill_rows(soft, model.n(), top_k, context, [&](std::size_t i, TreePlace& place) {
        place = soft.place_of(i);
        return model.training_data.row(i);
    });
}

Expected<Memberships> membership_vectors(FittedModel& model, DataMatrix new_points,
                                         std::optional<std::size_t> top_k,
                                         const ExecutionContext& context) {
    if (auto error = prepare_new_points(model, new_points)) return std::unexpected(*error);
    if (cluster_count(model) == 0) return no_clusters(new_points.rows, top_k);
    const SoftModel soft(model, index_condensed_tree(model.hierarchy.condensed), context);
    const std::vector<NearestCandidate> nearest =
        nearest_training_points(model, new_points, context);
    context.check();
    return fill_rows(soft, new_points.rows, top_k, context,
                     [&](std::size_t i, TreePlace& place) -> const double* {
                         if (!nearest[i].found()) return nullptr;
                         place = joined_place(soft.index, nearest[i]);
                         return new_points.row(i);
                     });
}

Expected<std::vector<double>> approximate_outlier_scores(FittedModel& model, DataMatrix new_points,
                                                         const ExecutionContext& context) {
    if (auto error = prepare_new_points(model, new_points)) return std::unexpected(*error);
    std::vector<double> scores(new_points.rows, 1.0);
    if (new_points.rows == 0) return scores;
    const CondensedIndex index = index_condensed_tree(model.hierarchy.condensed);
    const std::vector<double> deepest =
        index.empty() ? std::vector<double>() : glosh_deepest(index);
    const std::vector<NearestCandidate> nearest =
        nearest_training_points(model, new_points, context);
    for (std::size_t i = 0; i < new_points.rows; ++i) {
        if (!nearest[i].found()) continue;
        if (index.empty()) {
            scores[i] = 0.0;  // the fitted score of every point of a tree without edges
            continue;
        }
        const TreePlace place = joined_place(index, nearest[i]);
        scores[i] = glosh_score(deepest[place.cluster - index.n], place.lambda);
    }
    return scores;
}

}  // namespace corvane
