#include "linkage/preorder_linkage.hpp"

#include <algorithm>
#include <string>

#include "common/internal_error.hpp"

namespace corvane {

IndexArray smallest_points(const SingleLinkageTree& tree, std::size_t n,
                           const ExecutionContext& context) {
    const std::vector<LinkageRow>& rows = tree.rows;
    IndexArray smallest(rows.size(), n);
    const auto smallest_under = [&](std::size_t node) {
        return node < n ? node : smallest[node - n];
    };
    for_each_checked(context, 0, rows.size(), [&](std::size_t r) {
        const LinkageRow& row = rows[r];
        if (row.left >= n + r || row.right >= n + r)
            fail_internal("single-linkage tree: a row above its parent");
        smallest.set(r, std::min(smallest_under(row.left), smallest_under(row.right)));
    });
    return smallest;
}

PreorderLinkage::PreorderLinkage(const SingleLinkageTree& tree, std::size_t n,
                                 const ExecutionContext& context)
    : n_(n),
      lambda_(tree.rows.size()),
      left_size_(tree.rows.size(), n),
      smallest_point_(tree.rows.size(), n),
      point_(n, n) {
    const std::vector<LinkageRow>& rows = tree.rows;
    const std::size_t count = rows.size();
    if (n > 0 && count != n - 1) {
        fail_internal("single-linkage tree: " + std::to_string(count) + " rows over " +
                      std::to_string(n) + " points");
    }
    if (count == 0) return;
    if (rows.back().size != n)
        fail_internal("single-linkage tree: the root does not hold every point");

    // Parents come after their children in merge order, so a pass from the root down
    // places every row before its children are reached. Positions and first leaves are
    // below n: 4 bytes each while n allows.
    IndexArray position(count, n);
    IndexArray first(count, n);
    std::size_t placed = 0;
    auto size_of = [&](std::size_t node, std::size_t below) -> std::size_t {
        if (node < n) return 1;
        if (node - n >= below) fail_internal("single-linkage tree: a row above its parent");
        return rows[node - n].size;
    };
    auto place = [&](std::size_t node, std::size_t row, std::size_t leaf) {
        if (node < n) {
            point_.set(leaf, node);
            ++placed;
        } else {
            position.set(node - n, row);
            first.set(node - n, leaf);
        }
    };
    const IndexArray smallest = smallest_points(tree, n, context);

    for_each_checked_descending(context, 0, count, [&](std::size_t r) {
        const LinkageRow& row = rows[r];
        const std::size_t left_size = size_of(row.left, r);
        const std::size_t right_size = size_of(row.right, r);
        if (row.size != left_size + right_size) {
            fail_internal("single-linkage tree: row " + std::to_string(r) +
                          " is not the sum of its sides");
        }
        const std::size_t at = position[r];
        lambda_[at] = row.lambda;
        left_size_.set(at, left_size);
        smallest_point_.set(at, smallest[r]);
        if (right_size < left_size) {
            place(row.right, at + 1, first[r]);
            place(row.left, at + right_size, first[r] + right_size);
        } else {
            place(row.left, at + 1, first[r]);
            place(row.right, at + left_size, first[r] + left_size);
        }
    });
    if (placed != n) fail_internal("single-linkage tree: the rows do not name every point once");
}

std::size_t PreorderLinkage::bytes() const {
    return lambda_.capacity() * sizeof(double) + left_size_.bytes() + smallest_point_.bytes() +
           point_.bytes();
}

}  // namespace corvane
