#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "block_search/block_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "gram_screen/gram_screen.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// Scratch of one searching thread, reused from block to block.
struct BlockSearchScratch {
    ScreenScratch screen;
    std::vector<double> floor = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
    std::vector<double> centre;
    std::vector<std::size_t> stack;
};

// A block of query rows: block `block` of `screen`, whose rows are `first` ..
// first + rows - 1 there, with their coordinates at `data` (row-major, the tree's columns).
// For a block of the tree itself, `node` is its leaf; for rows from elsewhere (new points)
// NO_NODE.
struct QueryBlock {
    const GramScreen* screen;
    std::size_t block;
    std::size_t first;
    std::size_t rows;
    const double* data;
    std::size_t node;
};

// Block b of the tree as a query block.
inline QueryBlock tree_query_block(const BlockTree& tree, std::size_t b) {
    const std::size_t first = tree.block_start[b];
    return {&tree.screen, b, first, tree.block_end(b) - first, tree.row(first), tree.block_node[b]};
}

// Searches the query rows against every row of the tree: a block of the tree first against
// itself, then the tree's blocks depth first from the root, the child whose centroid is
// nearer to the query rows' mean first, the left one on ties. At every node the search
// measures each query row's floor (BlockTree::distance_floor of the node and the row: no
// row of the node is nearer), and the visitor may prune the node with them. Every row pair
// that the visitor's screen leaves open is handed to the visitor, which settles it with the
// exact distance. The visiting order depends only on the tree and the query rows, so a
// visitor whose state depends only on the pairs it was handed gives the same result
// whichever thread runs the block.
//
// Visitor contract (`floor[i]` belongs to query row i):
//   bool prune(std::size_t node, std::span<const double> floor): whether no query row can
//       gain from a row of `node`;
//   std::size_t screen(const BlockPair& pair, std::span<const double> floor,
//       std::size_t node, ScreenScratch& scratch): screens the block pair (the query rows
//       against the block of `node`) with screen_block_pair or screen_grouped_pair and
//       returns the number of open pairs;
//   void open_pair(std::size_t query, std::size_t reference): the query row's number in
//       its screen and the reference row's tree position.
template <class Visitor>
void search_block(const BlockTree& blocks, const QueryBlock& query, Visitor& visitor,
                  BlockSearchScratch& scratch) {
    const std::size_t rows = query.rows;
    const std::size_t dims = blocks.dims;
    const std::span<double> floor(scratch.floor.data(), rows);

    // A node that holds the query block is at floor 0 from all its rows.
    const auto measure = [&](std::size_t node) {
        const BlockNode& record = blocks.nodes[node];
        if (query.node != NO_NODE && record.start <= query.first && query.first < record.end) {
            std::fill(floor.begin(), floor.end(), 0.0);
            return;
        }
        blocks.distance_floors(node, query.data, rows, floor.data());
    };
    const auto base_case = [&](std::size_t other) {
        const std::size_t other_first = blocks.block_start[other];
        const BlockPair pair{
            query.screen,   query.block, query.first, rows,
            &blocks.screen, other,       other_first, blocks.block_end(other) - other_first};
        const std::size_t open =
            visitor.screen(pair, floor, blocks.block_node[other], scratch.screen);
        for (std::size_t t = 0; t < open; ++t) {
            const OpenPair& p = scratch.screen.open[t];
            visitor.open_pair(query.first + p.query, other_first + p.reference);
        }
    };

    std::vector<double>& centre = scratch.centre;
    centre.assign(dims, 0.0);
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t c = 0; c < dims; ++c)
            centre[c] += query.data[i * dims + c];
    }
    for (double& v : centre)
        v /= static_cast<double>(rows);
    if (query.node != NO_NODE) {
        measure(query.node);
        base_case(blocks.block_of_node[query.node]);
    }
    auto& stack = scratch.stack;
    stack.assign(1, 0);
    while (!stack.empty()) {
        const std::size_t node = stack.back();
        stack.pop_back();
        if (node == query.node) continue;
        measure(node);
        if (visitor.prune(node, floor)) continue;
        if (blocks.block_of_node[node] != BlockTree::NO_BLOCK) {
            base_case(blocks.block_of_node[node]);
            continue;
        }
        const BlockNode& record = blocks.nodes[node];
        const std::size_t left = record.left;
        const std::size_t right = record.right;
        const auto distance_to = [&](std::size_t child) {
            return child == NO_NODE ? 0.0
                                    : squared_distance(blocks.centroid(child), centre.data(), dims);
        };
        // The nearer child is taken up first, so it goes on the stack last.
        const bool left_first = !(distance_to(right) < distance_to(left));
        const std::size_t near = left_first ? left : right;
        const std::size_t far = left_first ? right : left;
        if (far != NO_NODE) stack.push_back(far);
        if (near != NO_NODE) stack.push_back(near);
    }
}

}  // namespace corvane
