#include "linkage/preorder_linkage.hpp"

#include <algorithm>
#include <cstdint>
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
    : n_(n), point_(n, n) {
    const std::vector<LinkageRow>& rows = tree.rows;
    const std::size_t count = rows.size();
    if (n > 0 && count != n - 1) {
        fail_internal("single-linkage tree: " + std::to_string(count) + " rows over " +
                      std::to_string(n) + " points");
    }
    if (count == 0) return;
    if (rows.back().size != n)
        fail_internal("single-linkage tree: the root does not hold every point");

    const IndexArray smallest = smallest_points(tree, n, context);
    LinkedRows linked(n);
    auto size_of = [&](std::size_t node) -> std::size_t {
        return node < n ? 1 : rows[node - n].size;
    };
    for_each_checked(context, 0, count, [&](std::size_t r) {
        const LinkageRow& row = rows[r];
        const std::size_t left_size = size_of(row.left);
        const std::size_t right_size = size_of(row.right);
        if (row.size != left_size + right_size) {
            fail_internal("single-linkage tree: row " + std::to_string(r) +
                          " is not the sum of its sides");
        }
        linked.push_back(row.left, row.right, left_size, right_size, smallest[r]);
    });
    place_rows(linked, [&](std::size_t r) { return rows[r].lambda; }, context);
}

PreorderLinkage::PreorderLinkage(const LinkedRows& rows, const SpanningTree& tree,
                                 const ExecutionContext& context)
    : n_(tree.points()), point_(n_, n_) {
    if (rows.size() != tree.size())
        fail_internal("single-linkage tree: not one row per spanning-tree edge");
    if (n_ > 0 && rows.size() != n_ - 1) {
        fail_internal("single-linkage tree: " + std::to_string(rows.size()) + " rows over " +
                      std::to_string(n_) + " points");
    }
    if (rows.size() == 0) return;
    if (rows.left_size[rows.size() - 1] + rows.right_size[rows.size() - 1] != n_)
        fail_internal("single-linkage tree: the root does not hold every point");
    place_rows(rows, [&](std::size_t r) { return merge_lambda(tree.weight(r)); }, context);
}

template <class LambdaAt>
void PreorderLinkage::place_rows(const LinkedRows& rows, const LambdaAt& lambda_at,
                                 const ExecutionContext& context) {
    if (narrow_indices_fit(n_)) {
        place_rows_with<std::uint32_t>(rows, lambda_at, context);
    } else {
        place_rows_with<std::uint64_t>(rows, lambda_at, context);
    }
}

template <class Index, class LambdaAt>
void PreorderLinkage::place_rows_with(const LinkedRows& rows, const LambdaAt& lambda_at,
                                      const ExecutionContext& context) {
    const std::size_t n = n_;
    const std::size_t count = rows.size();
    lambda_.assign(count, 0.0);
    left_size_ = IndexArray(count, n);
    smallest_point_ = IndexArray(count, n);

    // Parents come after their children in merge order, so a pass from the root down
    // places every row before its children are reached. A row's parent sets its position
    // and first leaf together: the rows are reached out of order, and side by side the two
    // take one cache line.
    struct Slot {
        Index position;
        Index first;
    };
    LargeArray<Slot> slot(count);
    std::size_t placed = 0;
    auto place = [&](std::size_t node, std::size_t below, std::size_t row, std::size_t leaf) {
        if (node < n) {
            point_.set(leaf, node);
            ++placed;
            return;
        }
        if (node - n >= below) fail_internal("single-linkage tree: a row above its parent");
        slot[node - n] = {static_cast<Index>(row), static_cast<Index>(leaf)};
    };

    for_each_checked_descending(context, 0, count, [&](std::size_t r) {
        const std::size_t left_size = rows.left_size[r];
        const std::size_t right_size = rows.right_size[r];
        const std::size_t at = slot[r].position;
        const std::size_t first = slot[r].first;
        lambda_[at] = lambda_at(r);
        left_size_.set(at, left_size);
        smallest_point_.set(at, rows.smallest[r]);
        if (right_size < left_size) {
            place(rows.right[r], r, at + 1, first);
            place(rows.left[r], r, at + right_size, first + right_size);
        } else {
            place(rows.left[r], r, at + 1, first);
            place(rows.right[r], r, at + left_size, first + left_size);
        }
    });
    if (placed != n) fail_internal("single-linkage tree: the rows do not name every point once");
}

std::size_t PreorderLinkage::bytes() const {
    return lambda_.capacity() * sizeof(double) + left_size_.bytes() + smallest_point_.bytes() +
           point_.bytes();
}

}  // namespace corvane
