#include "linkage/single_linkage.hpp"

#include <algorithm>
#include <cstdint>
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

LinkedRows::LinkedRows(std::size_t n)
    : left(n > 0 ? n - 1 : 0, 2 * n),
      right(left.size(), 2 * n),
      left_size(left.size(), n + 1),
      right_size(left.size(), n + 1),
      smallest(left.size(), n) {}

namespace {

// The single-linkage pass over `count` edges in merge order, edge_at(i) being the i-th:
// merge_records and number_linkage_rows in one go. At a merge, `low` and `high` are roots
// of the first pass's sets, so the node holding each set, and the smallest point under it,
// are kept by root instead of in a second union-find. Each merge is handed to
// on_row(edge, left, right, left size, right size, smallest point); on_skip(i) hears of
// every edge that closes a cycle. `Index` holds points, set sizes and node ids (below 2n):
// the sets are read out of order, so their width decides how much of them the caches hold.
template <class Index, class EdgeAt, class OnSkip, class OnRow>
void link_with_index(std::size_t count, const EdgeAt& edge_at, std::size_t n, const OnSkip& on_skip,
                     const OnRow& on_row, const ExecutionContext& context) {
    // Kept at the root of sets of two or more; a set of one point is its own node and
    // smallest point.
    struct Merged {
        Index node;
        Index smallest;
    };
    BasicUnionFind<Index, Merged> sets(n);
    std::size_t rows = 0;

    // The endpoints of sorted edges are scattered over the sets: their entries are
    // fetched two steps ahead, then their parents' entries (usually the roots) one step
    // ahead.
    constexpr std::size_t ahead = 8;
    for_each_checked(context, 0, count, [&](std::size_t i) {
        if (i + 2 * ahead < count) {
            const MstEdge later = edge_at(i + 2 * ahead);
            sets.prefetch(later.a);
            sets.prefetch(later.b);
        }
        if (i + ahead < count) {
            const MstEdge next = edge_at(i + ahead);
            sets.prefetch(sets.parent_hint(next.a));
            sets.prefetch(sets.parent_hint(next.b));
        }
        const MstEdge edge = edge_at(i);
        const std::size_t ra = sets.find(edge.a);
        const std::size_t rb = sets.find(edge.b);
        if (ra == rb) {
            on_skip(i);
            return;
        }
        const std::size_t size_a = sets.set_size(ra);
        const std::size_t size_b = sets.set_size(rb);
        const auto merged = [&](std::size_t root, std::size_t size) {
            return size == 1 ? Merged{static_cast<Index>(root), static_cast<Index>(root)}
                             : sets.record(root);
        };
        const std::size_t low = std::min(ra, rb);
        const std::size_t high = std::max(ra, rb);
        const std::size_t low_size = low == ra ? size_a : size_b;
        const std::size_t high_size = low == ra ? size_b : size_a;
        const Merged left = merged(low, low_size);
        const Merged right = merged(high, high_size);
        const Index smallest = std::min(left.smallest, right.smallest);
        on_row(edge, left.node, right.node, low_size, high_size, smallest);
        // ra first: see merge_records
        sets.record(sets.unite(ra, rb)) = {static_cast<Index>(n + rows), smallest};
        ++rows;
    });
}

// 32-bit sets and node ids while the node ids fit, full width otherwise; the rows are the
// same either way.
template <class EdgeAt, class OnSkip, class OnRow>
void link_in_order(std::size_t count, const EdgeAt& edge_at, std::size_t n, const OnSkip& on_skip,
                   const OnRow& on_row, const ExecutionContext& context) {
    if (n <= std::size_t{std::numeric_limits<std::uint32_t>::max()} / 2) {
        link_with_index<std::uint32_t>(count, edge_at, n, on_skip, on_row, context);
    } else {
        link_with_index<std::size_t>(count, edge_at, n, on_skip, on_row, context);
    }
}

// link_in_order into a SingleLinkageTree.
template <class EdgeAt, class OnSkip>
SingleLinkageTree link_rows(std::size_t count, const EdgeAt& edge_at, std::size_t n,
                            const OnSkip& on_skip, const ExecutionContext& context) {
    SingleLinkageTree tree;
    tree.rows.reserve(n > 0 ? n - 1 : 0);
    link_in_order(
        count, edge_at, n, on_skip,
        [&](const MstEdge& edge, std::size_t left, std::size_t right, std::size_t left_size,
            std::size_t right_size, std::size_t) {
            tree.rows.push_back({left, right, merge_lambda(edge.weight), left_size + right_size});
        },
        context);
    return tree;
}

// Runs `link` over the spanning tree's edges with its on_skip, then drops from `tree` the
// edges that closed cycles. Those come only from lists that are not a spanning tree: kept
// in a pass of their own, which streams the edges (the linkage pass reads the sets out of
// order).
template <class Link>
void link_dropping_cycles(SpanningTree& tree, const Link& link, const ExecutionContext& context) {
    std::vector<std::size_t> skipped;
    link([&](std::size_t i) { skipped.push_back(i); });
    if (skipped.empty()) return;
    std::vector<MstEdge> joined;
    joined.reserve(tree.size() - skipped.size());
    auto next_skipped = skipped.begin();
    for (std::size_t i = 0; i < tree.size(); ++i) {
        context.check_every(i);
        if (next_skipped != skipped.end() && *next_skipped == i) {
            ++next_skipped;
        } else {
            joined.push_back(tree.edge(i));
        }
    }
    tree = SpanningTree(joined, tree.points(), context);
}

}  // namespace

SingleLinkageTree build_single_linkage(std::span<const MstEdge> edges, std::size_t n,
                                       const ExecutionContext& context) {
    const std::vector<MstEdge> sorted = sorted_edges(edges, context);
    return link_rows(
        sorted.size(), [&](std::size_t i) { return sorted[i]; }, n, [](std::size_t) {}, context);
}

SingleLinkageTree link_sorted_edges(std::span<const MstEdge> sorted, std::size_t n,
                                    SpanningTree& merged, const ExecutionContext& context) {
    merged = SpanningTree(sorted, n, context);
    return link_spanning_tree(merged, context);
}

SingleLinkageTree link_spanning_tree(SpanningTree& tree, const ExecutionContext& context) {
    SingleLinkageTree rows;
    const auto edge_at = [&](std::size_t i) { return tree.edge(i); };
    link_dropping_cycles(
        tree,
        [&](const auto& on_skip) {
            rows = link_rows(tree.size(), edge_at, tree.points(), on_skip, context);
        },
        context);
    return rows;
}

LinkedRows link_spanning_tree_rows(SpanningTree& tree, const ExecutionContext& context) {
    const std::size_t n = tree.points();
    LinkedRows rows(n);
    const auto edge_at = [&](std::size_t i) { return tree.edge(i); };
    link_dropping_cycles(
        tree,
        [&](const auto& on_skip) {
            link_in_order(
                tree.size(), edge_at, tree.points(), on_skip,
                [&](const MstEdge&, std::size_t left, std::size_t right, std::size_t left_size,
                    std::size_t right_size, std::size_t smallest) {
                    rows.push_back(left, right, left_size, right_size, smallest);
                },
                context);
        },
        context);
    return rows;
}

SingleLinkageTree build_single_linkage(const SpanningTree& tree, const ExecutionContext& context) {
    return link_rows(
        tree.size(), [&](std::size_t i) { return tree.edge(i); }, tree.points(), [](std::size_t) {},
        context);
}

}  // namespace corvane
