#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// GLOSH score per point: 1 - lambda(p) / m, clamped to [0, 1], where m is the
// deepest finite point lambda anywhere under the cluster the point leaves.
// Independent of the cluster selection. Points that leave at +infinity, and
// clusters without a finite positive m, score 0. Never NaN; an empty tree
// gives all zeros.
std::vector<double> outlier_scores(const CondensedTree& tree, std::size_t n);

// The same from the tree's index (not empty, with its points).
// `context` is checked for interruption as the passes go.
std::vector<double> outlier_scores(const CondensedIndex& index,
                                   const ExecutionContext& context = ExecutionContext());

// The same from the edges of a tree and the glosh_deepest of its index, which need not be
// held any more.
std::vector<double> outlier_scores(const PackedCondensedTree& tree, std::span<const double> deepest,
                                   const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
