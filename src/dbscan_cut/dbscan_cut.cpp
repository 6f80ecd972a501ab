#include "dbscan_cut/dbscan_cut.hpp"

#include <limits>

#include "common/internal_error.hpp"
#include "union_find/union_find.hpp"

namespace corvane {

std::vector<std::int32_t> dbscan_cut_labels(const SpanningTree& tree, std::size_t joined,
                                            std::size_t min_cluster_size) {
    const std::size_t n = tree.points();
    check_index(joined, tree.size() + 1, "dbscan_cut_labels: joined edges");
    UnionFind parts(n);
    for (std::size_t i = 0; i < joined; ++i) {
        const MstEdge edge = tree.edge(i);
        parts.unite(edge.a, edge.b);
    }

    constexpr std::int32_t unnumbered = -2;
    std::vector<std::int32_t> label_of_root(n, unnumbered);
    std::vector<std::int32_t> labels(n, -1);
    std::int32_t next = 0;
    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t root = parts.find(p);
        if (parts.set_size(root) < min_cluster_size) continue;
        std::int32_t& label = label_of_root[root];
        if (label == unnumbered) {
            if (next == std::numeric_limits<std::int32_t>::max()) {
                fail_internal("dbscan_cut_labels: too many parts for 32-bit labels");
            }
            label = next++;
        }
        labels[p] = label;
    }
    return labels;
}

}  // namespace corvane
