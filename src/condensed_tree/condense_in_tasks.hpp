#pragma once

#include <cstddef>

#include "condensed_tree/packed_condensed_tree.hpp"
#include "linkage/preorder_linkage.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// condense(tree, min_cluster_size, context) on the threads of `context`. Where a real
// split leaves parts of at least `task_points` points beside its largest part, those
// parts are condensed as tasks of their own, each into a buffer of its own with clusters
// numbered from its part on; the largest part goes on in the walk that found the split.
// Once every task has run, each buffer is copied to where the one walk would have
// emitted it, its clusters renumbered as the one walk numbers them. So the result is the
// one walk's, edge for edge, for any task size and thread count.
//
// While the tasks run their buffers take 16 bytes an edge besides the result. Trees over
// more points than 4-byte ids allow are condensed in the one walk.
PackedCondensedTree condense_in_tasks(const PreorderLinkage& tree, std::size_t min_cluster_size,
                                      std::size_t task_points, const ExecutionContext& context);

}  // namespace corvane
