#pragma once

#include <cstddef>

#include "block_search/block_tree.hpp"
#include "core_distance/core_distance.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Core distances and neighbour lists as tree_core_distances gives them (the same values:
// the k-th smallest exact squared distance, square-rooted), found block by block: each
// block's rows are searched against the tree with GramScreen deciding most pairs and the
// exact distance the rest (block_search.hpp). Every row keeps a KnnHeap of bound k, which
// sees the rows of its own block first, then the other blocks in the search order; the
// neighbour lists are the heap's entries other than the row itself in array order, as in
// tree_core_distances. The blocks are spread over the threads of `context`; each block's
// result depends only on the tree, so the result is the same for any thread count.
CoreDistanceResult blocked_core_distances(const BlockTree& blocks, std::size_t k,
                                          bool keep_neighbors,
                                          const ExecutionContext& context = ExecutionContext());

}  // namespace corvane
