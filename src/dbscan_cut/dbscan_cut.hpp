#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "linkage/spanning_tree.hpp"

namespace corvane {

// The DBSCAN* clustering at one radius, read off a minimum spanning tree of the
// mutual-reachability graph kept in merge order: two points share a part when a path of
// edges no longer than the radius joins them, and those edges are the first `joined` in
// merge order. Parts of fewer than `min_cluster_size` points are noise (-1); the others
// are numbered from 0 in order of their lowest point. A point whose core distance exceeds
// the radius has no such edge and stays a part of one. More parts than 32-bit labels hold
// throw InternalError.
std::vector<std::int32_t> dbscan_cut_labels(const SpanningTree& tree, std::size_t joined,
                                            std::size_t min_cluster_size);

}  // namespace corvane
