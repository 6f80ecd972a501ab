#include "linkage/single_linkage.hpp"

#include <algorithm>
#include <limits>
#include <numeric>
#include <vector>

#include "linkage/edge_order.hpp"
#include "union_find/union_find.hpp"

namespace corvane {

std::vector<MergeRecord> merge_records(std::span<const MstEdge> edges, std::size_t n) {
    const std::vector<MstEdge> sorted = sorted_edges(edges);

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
    // The first pass and the node numbering in one go: at a merge, `low` and
    // `high` are roots of the first pass's sets, so the node holding each set
    // can be kept by root instead of in a second union-find.
    const std::vector<MstEdge> sorted = sorted_edges(edges);
    UnionFind sets(n);
    std::vector<std::size_t> node_of(n);
    std::iota(node_of.begin(), node_of.end(), std::size_t{0});
    SingleLinkageTree tree;
    tree.rows.reserve(n > 0 ? n - 1 : 0);
    const auto node_size = [&](std::size_t node) {
        return node < n ? std::size_t{1} : tree.rows[node - n].size;
    };
    for (const MstEdge& edge : sorted) {
        const std::size_t ra = sets.find(edge.a);
        const std::size_t rb = sets.find(edge.b);
        if (ra == rb) continue;
        const std::size_t left = node_of[std::min(ra, rb)];
        const std::size_t right = node_of[std::max(ra, rb)];
        const double lambda =
            edge.weight > 0.0 ? 1.0 / edge.weight : std::numeric_limits<double>::infinity();
        tree.rows.push_back({left, right, lambda, node_size(left) + node_size(right)});
        sets.unite(ra, rb);  // ra first: see merge_records
        node_of[sets.find(ra)] = n + tree.rows.size() - 1;
    }
    return tree;
}

}  // namespace corvane
