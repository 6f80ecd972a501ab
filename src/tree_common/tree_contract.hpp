#pragma once

#include <concepts>
#include <cstddef>
#include <limits>
#include <vector>

namespace corvane {

// What a spatial tree offers the algorithms written over it (the kNN search, core
// distances, the dual-tree Boruvka search, the index of a fitted model). KdTree and
// BallTree are the two trees; they differ only in their split rule and in the bounds
// below, so every algorithm is written once, against this contract.
//
// Storage (TreeStorage): the rows in tree order in `tree_data` (`dims` values each), so
// that a node's rows are one contiguous block; `indices` maps a tree position back to its
// input row; `n_points` rows. `nodes` in preorder: the root is node 0, a node comes before
// its left subtree, the left subtree before the right one. So the nodes of a subtree are
// one contiguous range of numbers and every child has a larger number than its parent.
//
// Node ranges and children (TreeNode): a node holds the tree positions [start, end),
// `count` of them; a leaf has no children; an internal node's left child holds
// [start, start + count / 2) and its right child the rest.
//
// Bounds of a node against a node: `tree.min_rdist_nodes(a, b)`, a lower bound on the
// squared distance between any row of node a and any row of node b.
//
// Bounds of a node against a point, as the two point searches use them (both walk the
// tree with walk_depth_first, depth_first.hpp):
// - KnnRule<Tree, Dims>: how the k-nearest-neighbour search orders and prunes the nodes of
//   that tree for one query point, in squared distances; its members are listed in
//   knn_search_impl.hpp;
// - DistanceFloor<Tree>: floor(node, point, scratch), a value that
//   euclidean_distance(point, row) never falls below, after rounding, for any row of the
//   node; the reachability search of a fitted model's training index
//   (training_index/reachability_search.hpp) prunes on it. Only the KD-tree needs one:
//   wider indexes are block trees (block_search/block_tree.hpp), searched a block of
//   points at a time.
// Both are specialised in the tree's own folder (kd_tree_bounds.hpp,
// ball_tree_bounds.hpp).
//
// Every tree is immutable once built; any number of threads may search it at once.

// Node number of a missing child, and the result of building an empty range.
inline constexpr std::size_t NO_NODE = std::numeric_limits<std::size_t>::max();

// The node fields every tree has; each tree's node type adds its own bounds.
struct TreeNode {
    std::size_t left = NO_NODE;
    std::size_t right = NO_NODE;
    std::size_t count = 0;
    std::size_t start = 0;
    std::size_t end = 0;
    bool is_leaf = false;

    friend bool operator==(const TreeNode&, const TreeNode&) = default;
};

template <class NodeType>
struct TreeStorage {
    using Node = NodeType;

    std::vector<Node> nodes;
    std::vector<double> tree_data;
    std::vector<std::size_t> indices;
    std::size_t dims = 0;
    std::size_t n_points = 0;

    const double* row(std::size_t position) const { return tree_data.data() + position * dims; }
};

template <class Tree, std::size_t Dims>
class KnnRule;

template <class Tree>
class DistanceFloor;

// The part of the contract the compiler can check.
template <class Tree>
concept SpatialTree = std::derived_from<Tree, TreeStorage<typename Tree::Node>> &&
                      std::derived_from<typename Tree::Node, TreeNode> &&
                      requires(const Tree& tree, std::size_t node) {
                          { tree.min_rdist_nodes(node, node) } -> std::same_as<double>;
                      };

}  // namespace corvane
