#pragma once

#include <cstddef>

#include "condensed_tree/condensed_tree.hpp"
#include "linkage/single_linkage_tree.hpp"

namespace corvane {

// Keeps the splits whose two sides both hold at least min_cluster_size points
// and read every other split as points leaving the cluster that continues.
// New clusters are numbered n + 1, n + 2, ... along a depth-first walk that
// condenses the right side of a split first; dropped points are emitted
// left side first.
//
// A split at lambda +infinity (points at distance 0 from each other) is never
// a real split: every point under it leaves the current cluster at +infinity,
// so identical points stay together and no cluster is born at +infinity.
//
// The root row must hold all n points; min_cluster_size must be at least 2.
// Broken inputs throw InternalError. An empty tree gives an empty result.
CondensedTree condense(const SingleLinkageTree& tree, std::size_t n, std::size_t min_cluster_size);

}  // namespace corvane
