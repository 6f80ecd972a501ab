#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "block_search/block_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "gram_screen/gram_screen.hpp"
#include "tree_common/no_node.hpp"

namespace corvane {

// Scratch of one searching thread, reused from block to block.
struct BlockSearchScratch {
    ScreenScratch screen;
    std::vector<double> floor = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
    std::vector<std::size_t> stack;
};

// Searches the rows of one block (the query rows) against every row of the tree: the block
// against itself first, then the other blocks depth first from the root, the child whose
// centroid is nearer to the query block's first, the left one on ties. At every node the
// search measures each query row's floor (BlockTree::distance_floor of the node and the
// row: no row of the node is nearer), and the visitor may prune the node with them; at a
// block it sets the per-row squared-distance thresholds of the screen. Every row pair the
// screen leaves open is handed to the visitor, which settles it with the exact distance.
// The visiting order depends only on the tree, so a visitor whose state depends only on
// the pairs it was handed gives the same result whichever thread runs the block.
//
// Visitor contract (`floor[i]` belongs to query row i, tree position block start + i):
//   bool prune(std::size_t node, std::span<const double> floor): whether no query row can
//       gain from a row of `node`;
//   std::size_t screen(const BlockPair& pair, std::span<const double> floor,
//       std::size_t node, ScreenScratch& scratch): screens the block pair (the query block
//       against the block of `node`, its own node first) with screen_block_pair or
//       screen_grouped_pair and returns the number of open pairs;
//   void open_pair(std::size_t query, std::size_t reference): tree positions.
template <class Visitor>
void search_block(const BlockTree& blocks, std::size_t block, Visitor& visitor,
                  BlockSearchScratch& scratch) {
    const std::size_t query_node = blocks.block_node[block];
    const std::size_t first = blocks.block_start[block];
    const std::size_t rows = blocks.block_end(block) - first;
    const std::span<double> floor(scratch.floor.data(), rows);

    // A node that holds the query block is at floor 0 from all its rows.
    const auto measure = [&](std::size_t node) {
        const BlockNode& record = blocks.nodes[node];
        if (record.start <= first && first < record.end) {
            std::fill(floor.begin(), floor.end(), 0.0);
            return;
        }
        for (std::size_t i = 0; i < rows; ++i)
            floor[i] = blocks.distance_floor(node, blocks.row(first + i));
    };
    const auto base_case = [&](std::size_t other) {
        const std::size_t other_first = blocks.block_start[other];
        const BlockPair pair{block, first,       rows,
                             other, other_first, blocks.block_end(other) - other_first};
        const std::size_t open =
            visitor.screen(pair, floor, blocks.block_node[other], scratch.screen);
        for (std::size_t t = 0; t < open; ++t) {
            const OpenPair& p = scratch.screen.open[t];
            visitor.open_pair(first + p.query, other_first + p.reference);
        }
    };

    measure(query_node);
    base_case(block);
    auto& stack = scratch.stack;
    stack.assign(1, 0);
    const double* centre = blocks.centroid(query_node);
    while (!stack.empty()) {
        const std::size_t node = stack.back();
        stack.pop_back();
        if (node == query_node) continue;
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
                                    : squared_distance(blocks.centroid(child), centre, blocks.dims);
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
