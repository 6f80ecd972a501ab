#include "mst/dual_tree_boruvka/node_summaries.hpp"

#include <limits>
#include <string>

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "tree_common/no_node.hpp"

namespace corvane {
namespace {

// A walk from the last node of a range down to the first sees both children of a node
// before the node itself, which does the work of a bottom-up recursion without one.

template <class Tree>
void check_layout(const Tree& tree, std::size_t values, const char* what) {
    if (values != tree.n_points) {
        fail_internal(std::string(what) + ": " + std::to_string(values) + " values for " +
                      std::to_string(tree.n_points) + " points");
    }
}

template <class Tree>
void check_range(const Tree& tree, std::size_t outputs, std::size_t first, std::size_t last,
                 const char* what) {
    if (outputs != tree.nodes.size() || first > last || last > tree.nodes.size()) {
        fail_internal(std::string(what) + ": nodes [" + std::to_string(first) + ", " +
                      std::to_string(last) + ") with " + std::to_string(outputs) + " outputs for " +
                      std::to_string(tree.nodes.size()) + " nodes");
    }
}

template <class Tree>
class SubtreeCollector {
  public:
    SubtreeCollector(const Tree& tree, std::size_t target) : tree_(tree), target_(target) {}

    // The depth counter is shared by the loop of one call: each cut of this node's range
    // goes one level deeper, the left part by recursion and the right part in place.
    void collect(std::size_t node, std::size_t depth) {
        if (node == NO_NODE) return;
        while (list.size() + 1 < target_ && depth <= 3 && !tree_.nodes[node].is_leaf) {
            ++depth;
            collect(tree_.nodes[node].left, depth);
            node = tree_.nodes[node].right;
            if (node == NO_NODE) return;
        }
        list.push_back(node);
    }

    std::vector<std::size_t> list;

  private:
    const Tree& tree_;
    std::size_t target_;
};

}  // namespace

template <class Tree>
std::size_t subtree_end(const Tree& tree, std::size_t root) {
    check_index(root, tree.nodes.size(), "subtree_end");
    std::size_t node = root;
    while (!tree.nodes[node].is_leaf) {
        const auto& record = tree.nodes[node];
        node = record.right != NO_NODE ? record.right : record.left;
        if (node == NO_NODE) break;
    }
    return (node == NO_NODE ? root : node) + 1;
}

template <class Tree>
void compute_node_min_core(const Tree& tree, std::span<const double> core_distances,
                           std::span<double> node_min_core_sq, std::size_t first,
                           std::size_t last) {
    check_layout(tree, core_distances.size(), "compute_node_min_core");
    check_range(tree, node_min_core_sq.size(), first, last, "compute_node_min_core");
    constexpr double infinity = std::numeric_limits<double>::infinity();
    for (std::size_t node = last; node-- > first;) {
        const auto& record = tree.nodes[node];
        if (record.is_leaf) {
            double m = infinity;
            for (std::size_t i = record.start; i < record.end; ++i) {
                const double v = core_distances[tree.indices[i]];
                if (v < m) m = v;
            }
            node_min_core_sq[node] = m * m;
            continue;
        }
        // Squaring keeps the order of non-negative values, so the smaller squared child
        // value is the square of the smaller core distance.
        const double left = record.left == NO_NODE ? infinity : node_min_core_sq[record.left];
        const double right = record.right == NO_NODE ? infinity : node_min_core_sq[record.right];
        node_min_core_sq[node] = right < left ? right : left;
    }
}

template <class Tree>
void label_nodes(const Tree& tree, std::span<const std::size_t> position_component,
                 std::span<std::size_t> node_component, std::size_t first, std::size_t last) {
    check_layout(tree, position_component.size(), "label_nodes");
    check_range(tree, node_component.size(), first, last, "label_nodes");
    for (std::size_t node = last; node-- > first;) {
        const auto& record = tree.nodes[node];
        std::size_t label = NO_COMPONENT;
        if (record.is_leaf) {
            label = position_component[record.start];
            for (std::size_t i = record.start + 1; i < record.end; ++i) {
                if (position_component[i] != label) {
                    label = NO_COMPONENT;
                    break;
                }
            }
        } else if (record.left != NO_NODE && record.right != NO_NODE &&
                   node_component[record.left] == node_component[record.right]) {
            label = node_component[record.left];
        }
        node_component[node] = label;
    }
}

template <class Tree>
void bound_nodes(const Tree& tree, std::span<const std::size_t> position_component,
                 std::span<const BoruvkaCandidate> candidates, std::span<double> node_bound,
                 std::size_t first, std::size_t last) {
    check_layout(tree, position_component.size(), "bound_nodes");
    check_range(tree, node_bound.size(), first, last, "bound_nodes");
    for (std::size_t node = last; node-- > first;) {
        const auto& record = tree.nodes[node];
        double largest = 0.0;
        if (record.is_leaf) {
            for (std::size_t i = record.start; i < record.end; ++i) {
                const double weight = candidates[position_component[i]].weight_sq;
                if (weight > largest) largest = weight;
            }
        } else {
            for (const std::size_t child : {record.left, record.right}) {
                if (child != NO_NODE && node_bound[child] > largest) largest = node_bound[child];
            }
        }
        node_bound[node] = largest;
    }
}

template <class Tree>
std::vector<std::size_t> collect_subtrees(const Tree& tree, std::size_t target) {
    SubtreeCollector<Tree> collector(tree, target);
    if (!tree.nodes.empty()) collector.collect(0, 0);
    return std::move(collector.list);
}

template std::size_t subtree_end(const KdTree&, std::size_t);
template void compute_node_min_core(const KdTree&, std::span<const double>, std::span<double>,
                                    std::size_t, std::size_t);
template void label_nodes(const KdTree&, std::span<const std::size_t>, std::span<std::size_t>,
                          std::size_t, std::size_t);
template void bound_nodes(const KdTree&, std::span<const std::size_t>,
                          std::span<const BoruvkaCandidate>, std::span<double>, std::size_t,
                          std::size_t);
template std::vector<std::size_t> collect_subtrees(const KdTree&, std::size_t);

template std::size_t subtree_end(const BallTree&, std::size_t);
template void compute_node_min_core(const BallTree&, std::span<const double>, std::span<double>,
                                    std::size_t, std::size_t);
template void label_nodes(const BallTree&, std::span<const std::size_t>, std::span<std::size_t>,
                          std::size_t, std::size_t);
template void bound_nodes(const BallTree&, std::span<const std::size_t>,
                          std::span<const BoruvkaCandidate>, std::span<double>, std::size_t,
                          std::size_t);
template std::vector<std::size_t> collect_subtrees(const BallTree&, std::size_t);

template void compute_node_min_core(const BlockTree&, std::span<const double>, std::span<double>,
                                    std::size_t, std::size_t);
template void label_nodes(const BlockTree&, std::span<const std::size_t>, std::span<std::size_t>,
                          std::size_t, std::size_t);

}  // namespace corvane
