#include "linkage/single_linkage.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "condensed_tree/linkage_rows.hpp"
#include "union_find/union_find.hpp"

namespace corvane {

namespace {

// Weights compare as floating-point numbers; a NaN weight (which the MST stage
// never produces) sorts after every other weight so the order stays strict
// and weak.
bool edge_less(const MstEdge& x, const MstEdge& y) {
    if (x.weight < y.weight) return true;
    if (y.weight < x.weight) return false;
    const bool x_nan = std::isnan(x.weight);
    const bool y_nan = std::isnan(y.weight);
    if (x_nan != y_nan) return y_nan;
    const std::size_t x_low = std::min(x.a, x.b);
    const std::size_t y_low = std::min(y.a, y.b);
    if (x_low != y_low) return x_low < y_low;
    return std::max(x.a, x.b) < std::max(y.a, y.b);
}

}  // namespace

std::vector<MergeRecord> merge_records(std::span<const MstEdge> edges, std::size_t n) {
    std::vector<MstEdge> sorted(edges.begin(), edges.end());
    std::sort(sorted.begin(), sorted.end(), edge_less);

    UnionFind sets(n);
    std::vector<MergeRecord> records;
    records.reserve(n > 0 ? n - 1 : 0);
    for (const MstEdge& edge : sorted) {
        const std::size_t ra = sets.find(edge.a);
        const std::size_t rb = sets.find(edge.b);
        if (ra == rb) continue;
        records.push_back({std::min(ra, rb), std::max(ra, rb), edge.weight});
        // ra first: on a size tie the set of the edge's first endpoint keeps
        // its representative, which decides later left/right orders.
        sets.unite(ra, rb);
    }
    return records;
}

SingleLinkageTree build_single_linkage(std::span<const MstEdge> edges, std::size_t n) {
    return number_linkage_rows(merge_records(edges, n), n);
}

}  // namespace corvane
