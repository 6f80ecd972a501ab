#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "condensed_tree/condensed_index.hpp"
#include "labels/points_by_cluster.hpp"

namespace corvane {

// The exemplars of each of `clusters` selected clusters, by label: for every leaf of the
// condensed tree (a cluster without cluster children) at or below the selected cluster,
// the points that leave that leaf at its largest lambda, +infinity included (points at
// distance 0 from each other are the most central of all). A point counts only as a
// member of its cluster (`labels`, the model's labels of the selection): under a single
// root cluster, whose points are labelled from a lambda threshold, the exemplars below the
// threshold are left out. Ascending point order within a cluster; an empty index gives
// no exemplars.
PointsByCluster cluster_exemplars(const CondensedIndex& index, std::span<const std::int32_t> labels,
                                  std::size_t clusters);

}  // namespace corvane
