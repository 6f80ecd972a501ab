#pragma once

#include <cstddef>
#include <vector>

namespace corvane {

// `child` is a point (< n) or a cluster id (>= n); `lambda` is where it leaves
// or splits off from `parent`; `child_size` is 1 for a point.
struct CondensedEdge {
    std::size_t parent = 0;
    std::size_t child = 0;
    double lambda = 0.0;
    std::size_t child_size = 0;

    friend bool operator==(const CondensedEdge&, const CondensedEdge&) = default;
};

// Edges in emission order. The root cluster is n; every other cluster and
// every point is a `child` exactly once, and a cluster is emitted as a child
// before it appears as a parent, with a larger id than its parent.
struct CondensedTree {
    std::vector<CondensedEdge> edges;
};

}  // namespace corvane
