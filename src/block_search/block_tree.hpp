#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "common/data_matrix.hpp"
#include "gram_screen/gram_screen.hpp"
#include "parallel/execution_context.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// One node of a BlockTree: the rows at tree positions [start, end) lie within `radius` of
// the node's centroid. A leaf is a block of at most GramScreen::MAX_BLOCK_ROWS rows.
struct BlockNode : TreeNode {
    double radius = 0.0;  // sqrt of the largest squared distance from the centroid to a row
};

// A ball tree whose leaves are blocks of rows for searches whose leaf-against-leaf work is
// a small matrix product screened by GramScreen.
//
// Layout: the tree contract's storage (tree_contract.hpp), with the centroids parallel to
// the nodes. Block b is leaf `block_node[b]`, rows [block_start[b], block_end(b)); blocks
// are numbered in ascending order of their rows, which is the numbering of the screen's
// blocks. Unlike the median-split trees, a node's children need not split its rows in
// halves.
//
// Splits: a node of more than MAX_BLOCK_ROWS rows is split by two-means, started from the
// row farthest from the centroid and the row farthest from that one and refined by a few
// rounds of assigning every row to the nearer centre (ties to the first). Unlike a median
// split this keeps well-separated groups of points whole, so that a block rarely spans
// two clusters and the balls stay tight where the data clusters. A side of fewer than an
// eighth of the rows is not accepted: the node is then cut at the median of the
// projection on the two starting rows (by count alone when all rows coincide), so the
// depth stays logarithmic.
//
// Immutable after build(); any number of threads may search it at once.
struct BlockTree : TreeStorage<BlockNode> {
    static constexpr std::size_t NO_BLOCK = std::numeric_limits<std::size_t>::max();

    std::vector<double> centroids;

    std::vector<std::size_t> block_of_node;  // per node: its block, or NO_BLOCK
    std::vector<std::size_t> block_node;     // per block: its leaf
    std::vector<std::size_t> block_start;    // per block: its first tree position
    GramScreen screen;                       // over tree_data, one screen block per block
    double relative_slack = 0.0;
    double absolute_slack = 0.0;

    // Copies `matrix` (at least one row and one column). The subtrees of the first splits
    // are built on the threads of `context`; the tree is the same for any count.
    static BlockTree build(const DataMatrix& matrix,
                           const ExecutionContext& context = ExecutionContext());

    std::size_t blocks() const { return block_node.size(); }
    std::size_t block_end(std::size_t b) const { return nodes[block_node[b]].end; }
    const double* centroid(std::size_t node) const { return centroids.data() + node * dims; }

    // A value that the computed distance sqrt(squared_distance(p, q)) never falls below for
    // any row p of node a and row q of node b: the gap between their balls less a margin
    // for the rounding of the centroid distance, the radii and the rows' own distances
    // (each a relative error of at most about dims / 2 + 3 units in the last place of sizes
    // at most centroid distance + radii, in any summation order; the margin allows
    // 4 dims + 32), and an absolute margin for squares below the
    // smallest normal double. Its square (as computed) is below every such squared
    // distance too. 0 when the balls overlap; NaN when the centroid distance overflows.
    double distance_floor(std::size_t a, std::size_t b) const;

    // The same for one point (dims values) against node a.
    double distance_floor(std::size_t a, const double* point) const;

    // floor[i] = distance_floor(a, point i) for `count` points (count x dims, row-major).
    // The centroid distances are summed in the vector units' order (floor_kernel.hpp).
    void distance_floors(std::size_t a, const double* points, std::size_t count,
                         double* floor) const;

    // Lower bound on the computed squared distance between any row of node a and any row
    // of node b (the contract of the trees' min_rdist_nodes).
    double min_rdist_nodes(std::size_t a, std::size_t b) const {
        const double floor = distance_floor(a, b);
        return floor * floor;
    }
};

}  // namespace corvane
