#pragma once

#include <cstddef>

#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "linkage/preorder_linkage.hpp"
#include "linkage/single_linkage_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Keeps the splits whose two sides both hold at least min_cluster_size points
// and read every other split as points leaving the cluster that continues.
// New clusters are numbered n + 1, n + 2, ... along a depth-first walk that
// condenses the last part of a split first; dropped points are emitted left
// side first.
//
// Merges at one lambda form one level: the split at that lambda is read
// across all parts below the level, however the single-linkage tree paired
// them, and may have more than two large parts. The parts of every split
// come in the order of the smallest point under each, so that every spanning
// tree of the same weight numbers the clusters alike. So no cluster is born and
// ends at the same lambda, identical points stay together, and a split at
// lambda +infinity (points at distance 0) leaves only single points, which
// all leave the current cluster there.
//
// The root row must hold all n points; min_cluster_size must be at least 2.
// Broken inputs throw InternalError. An empty tree gives an empty result.
CondensedTree condense(const SingleLinkageTree& tree, std::size_t n, std::size_t min_cluster_size);

// The same from the tree in pre-order, whose top-down walk reads memory forwards: what a
// fit and a re-selection condense, on the threads of `context` (condense_in_tasks) from
// PARALLEL_MIN_SHORT_STEPS points up to 2^24, checking it for interruption as the walk
// goes.
// The rows version is its reference.
PackedCondensedTree condense(const PreorderLinkage& tree, std::size_t min_cluster_size,
                             const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
