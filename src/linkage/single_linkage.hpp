#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "common/mst_edge.hpp"
#include "linkage/single_linkage_tree.hpp"
#include "linkage/spanning_tree.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// First pass: Kruskal over a sorted copy of the edges. The order is by
// (weight, min(a, b), max(a, b)), so only identical edges can tie. Edges that
// close a cycle are skipped, so any edge list that connects the points gives
// the same records as its minimum spanning tree. Endpoints >= n throw
// InternalError.
std::vector<MergeRecord> merge_records(std::span<const MstEdge> edges, std::size_t n);

// The single-linkage tree of the edges: the merges of merge_records, numbered and turned
// into lambdas as number_linkage_rows does, in one union-find pass over a sorted copy.
// The two separate passes are kept as the reference it is tested against. Every pass
// checks `context` for interruption.
SingleLinkageTree build_single_linkage(std::span<const MstEdge> edges, std::size_t n,
                                       const ExecutionContext& context = ExecutionContext());

// The same pass over edges already in the order of sorted_edges, also keeping in `merged`
// the edges that joined two sets, in merge order: for edges that connect the points, the
// spanning tree whose edge i made row i.
SingleLinkageTree link_sorted_edges(std::span<const MstEdge> sorted, std::size_t n,
                                    SpanningTree& merged,
                                    const ExecutionContext& context = ExecutionContext());

// The same pass over edges kept in merge order as a SpanningTree, dropping from `tree` the
// edges that close cycles: for a fit, whose sorted edges can be released before the pass
// takes its own memory.
SingleLinkageTree link_spanning_tree(SpanningTree& tree,
                                     const ExecutionContext& context = ExecutionContext());

// The same pass, giving the rows as a fit lays them out (LinkedRows): row i was made by
// edge i of `tree` once the pass returns.
LinkedRows link_spanning_tree_rows(SpanningTree& tree,
                                   const ExecutionContext& context = ExecutionContext());

// The same pass over a spanning tree kept in merge order (link_sorted_edges): nothing
// sorted.
SingleLinkageTree build_single_linkage(const SpanningTree& tree,
                                       const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
