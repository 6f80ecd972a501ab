#pragma once

#include <cstddef>
#include <vector>

namespace corvane {

// An edge of the mutual-reachability minimum spanning tree. `a` is the end that
// was already in the tree (or in the component owning the edge) when it was
// chosen, `b` the end it brought in; `weight` is in true distance units.
struct MstEdge {
    std::size_t a = 0;
    std::size_t b = 0;
    double weight = 0.0;

    friend bool operator==(const MstEdge&, const MstEdge&) = default;
};

struct MstResult {
    std::vector<double> core_distances;  // one per point, input row order
    std::vector<MstEdge> edges;          // n - 1 edges for n >= 2, in the order found
};

}  // namespace corvane
