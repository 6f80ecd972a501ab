#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/data_matrix.hpp"
#include "common/hdbscan_error.hpp"
#include "model/fitted_model.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Soft clustering: for every point a vector of membership probabilities, one per selected
// cluster in label order, from the fitted model's hierarchy and its selection as they
// stand (re-selections included).
//
// The vector of a point x with merge heights h_C(x) (merge_heights.hpp) and distances
// d_C(x) to the clusters' exemplars (exemplar_distances.hpp):
// - distance part: 1 / d_C(x), divided by its sum; when x is at distance 0 from some
//   clusters' exemplars, those clusters share it equally and the others get 0;
// - outlier part: m / (m - h_C(x)), divided by its sum, where m = deepest(x's cluster);
//   the clusters with h_C(x) = m share it equally the same way;
// - combined: the product of the two parts, divided by its sum (the distance part alone
//   when the product is 0 everywhere: the clusters nearest in distance and those nearest
//   in the tree are different ones), times the probability that x is in some cluster:
//   max_C h_C(x) / deepest(C*), C* the lowest label that attains the maximum, at most 1
//   (1 when deepest(C*) is 0).
// A part whose values are all +infinity (no finite distance) is shared equally. So no
// entry is NaN, every entry is in [0, 1] and a row sums to the probability that x is in
// some cluster, up to rounding.
//
// Training points sit where the fit put them. A new point enters the tree through its
// nearest training point q under one-sided mutual reachability r, found exactly as
// approximate_predict finds it: it leaves q's cluster at lambda min(1 / r, lambda_q),
// never deeper than q, through which alone it reaches the rest of the tree. A training
// row given as a new point therefore sits where the fit put it whenever its nearest
// training point is itself (1 / r = 1 / core distance is never below its own lambda).
//
// Rows are spread over the threads of `context`; each row is computed on its own, so the
// results do not depend on the thread count. Memory beyond the output: the exemplars'
// indexes, one placement per new point and a few values per cluster per thread.

// Membership vectors of many points: `columns` entries per row, row-major. Dense: one
// column per cluster, `labels` empty. Top k: the k largest entries of each row in
// descending order, equal entries by ascending label, with their labels; columns beyond
// the number of clusters hold label -1 and probability 0.0.
struct Memberships {
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::vector<double> probabilities;
    std::vector<std::int32_t> labels;
};

// The vectors of the training points (`top_k` empty: dense).
Memberships all_points_membership_vectors(const FittedModel& model,
                                          std::optional<std::size_t> top_k,
                                          const ExecutionContext& context = ExecutionContext());

// The vectors of new points, checked as approximate_predict checks them (the same errors;
// under Precomputed each row holds the distances to the n training points). A row
// without a nearest training point (a NaN or infinite coordinate) gets a row of zeros.
// Searches the model's training index as approximate_predict does, so it runs one call
// at a time per model.
Expected<Memberships> membership_vectors(FittedModel& model, DataMatrix new_points,
                                         std::optional<std::size_t> top_k,
                                         const ExecutionContext& context = ExecutionContext());

// GLOSH outlier scores of new points placed as above: (m - lambda) / m in [0, 1] with m
// the largest finite point lambda under the cluster the point leaves from, the formula
// of the fitted scores, so that a training row placed where the fit put it gets its
// fitted score bit for bit. A row without a nearest training point scores 1.0. Checks
// and index as membership_vectors.
Expected<std::vector<double>> approximate_outlier_scores(
    FittedModel& model, DataMatrix new_points,
    const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
