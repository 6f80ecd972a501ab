#include "linkage/linkage_rows.hpp"

#include <numeric>
#include <vector>

#include "common/internal_error.hpp"
#include "union_find/union_find.hpp"

namespace corvane {

SingleLinkageTree number_linkage_rows(std::span<const MergeRecord> records, std::size_t n) {
    SingleLinkageTree tree;
    tree.rows.reserve(records.size());
    // node_of[r]: the newest node holding the set whose representative is r.
    std::vector<std::size_t> node_of(n);
    std::iota(node_of.begin(), node_of.end(), std::size_t{0});
    UnionFind sets(n);

    auto node_size = [&](std::size_t node) -> std::size_t {
        if (node < n) return 1;
        check_index(node - n, tree.rows.size(), "single-linkage node");
        return tree.rows[node - n].size;
    };

    for (std::size_t i = 0; i < records.size(); ++i) {
        const MergeRecord& record = records[i];
        const std::size_t low_root = sets.find(record.low);
        const std::size_t high_root = sets.find(record.high);
        if (low_root == high_root) fail_internal("merge record joins a set with itself");
        const std::size_t left = node_of[low_root];
        const std::size_t right = node_of[high_root];
        tree.rows.push_back(
            {left, right, merge_lambda(record.distance), node_size(left) + node_size(right)});
        sets.unite(record.low, record.high);
        node_of[sets.find(record.low)] = n + i;
    }
    return tree;
}

}  // namespace corvane
