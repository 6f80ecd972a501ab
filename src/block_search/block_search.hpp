#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "block_search/block_tree.hpp"
#include "gram_screen/gram_screen.hpp"
#include "tree_common/no_node.hpp"

namespace corvane {

// Scratch of one searching thread, reused from block to block.
struct BlockSearchScratch {
    ScreenScratch screen;
    std::vector<double> threshold = std::vector<double>(GramScreen::MAX_BLOCK_ROWS);
    struct Pending {
        std::size_t node;
        double floor;
    };
    std::vector<Pending> stack;
};

// Searches the rows of one block (the query rows) against every row of the tree: the block
// against itself first, then the other blocks depth first from the root, the nearer child
// (by distance_floor from the query block) first, the left one on ties. Between blocks
// the visitor refreshes the per-row squared-distance thresholds of the screen and may
// prune whole nodes; every row pair the screen leaves open is handed to the visitor, which
// settles it with the exact distance. The visiting order depends only on the tree, so a
// visitor whose state depends only on the pairs it was handed gives the same result
// whichever thread runs the block.
//
// Visitor contract:
//   void thresholds(std::span<double> t): t[i] for query row i (tree position
//       block start + i): the screen keeps open the pairs that may lie at or below it;
//   bool prune(std::size_t node, double floor): whether no pair of the query rows with a
//       row of `node` can matter, given `floor` (BlockTree::distance_floor of the query
//       block's node and `node`); asked again when a stacked node is taken up;
//   void open_pair(std::size_t query, std::size_t reference): tree positions.
template <class Visitor>
void search_block(const BlockTree& blocks, std::size_t block, Visitor& visitor,
                  BlockSearchScratch& scratch) {
    const std::size_t query_node = blocks.block_node[block];
    const std::size_t first = blocks.block_start[block];
    const std::size_t rows = blocks.block_end(block) - first;
    const std::span<double> threshold(scratch.threshold.data(), rows);

    const auto base_case = [&](std::size_t other) {
        visitor.thresholds(threshold);
        const std::size_t other_first = blocks.block_start[other];
        const BlockPair pair{block, first,       rows,
                             other, other_first, blocks.block_end(other) - other_first};
        const std::size_t open = screen_block_pair(blocks.screen, pair, threshold, scratch.screen);
        for (std::size_t t = 0; t < open; ++t) {
            const OpenPair& p = scratch.screen.open[t];
            visitor.open_pair(first + p.query, other_first + p.reference);
        }
    };

    base_case(block);
    auto& stack = scratch.stack;
    stack.clear();
    stack.push_back({0, blocks.distance_floor(query_node, std::size_t{0})});
    while (!stack.empty()) {
        const auto [node, floor] = stack.back();
        stack.pop_back();
        if (node == query_node || visitor.prune(node, floor)) continue;
        if (blocks.block_of_node[node] != BlockTree::NO_BLOCK) {
            base_case(blocks.block_of_node[node]);
            continue;
        }
        const BlockNode& record = blocks.nodes[node];
        const std::size_t left = record.left;
        const std::size_t right = record.right;
        const double to_left = left == NO_NODE ? 0.0 : blocks.distance_floor(query_node, left);
        const double to_right = right == NO_NODE ? 0.0 : blocks.distance_floor(query_node, right);
        // The nearer child is taken up first, so it goes on the stack last.
        const bool left_first = !(to_right < to_left);
        const std::size_t near = left_first ? left : right;
        const std::size_t far = left_first ? right : left;
        if (far != NO_NODE) stack.push_back({far, left_first ? to_right : to_left});
        if (near != NO_NODE) stack.push_back({near, left_first ? to_left : to_right});
    }
}

}  // namespace corvane
