#include "mst/dual_tree_boruvka/node_summaries.hpp"

#include "ball_tree/ball_tree.hpp"
#include "block_search/block_tree.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "tree_common/bottom_up.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {
namespace {

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

// The component an inner node's points share: both children's, when they have the same.
template <class Record>
std::size_t shared_label(std::span<const std::size_t> node_component, const Record& record) {
    const bool shared = record.left != NO_NODE && record.right != NO_NODE &&
                        node_component[record.left] == node_component[record.right];
    return shared ? node_component[record.left] : NO_COMPONENT;
}

}  // namespace

template <class Tree>
void label_nodes(const Tree& tree, std::span<const std::size_t> position_component,
                 std::span<std::size_t> node_component, std::size_t first, std::size_t last) {
    check_point_values(tree, position_component.size(), "label_nodes");
    fill_bottom_up(
        tree, node_component.size(), first, last, "label_nodes",
        [&](std::size_t node, const auto& record) {
            std::size_t label = position_component[record.start];
            for (std::size_t i = record.start + 1; i < record.end; ++i) {
                if (position_component[i] != label) {
                    label = NO_COMPONENT;
                    break;
                }
            }
            node_component[node] = label;
        },
        [&](std::size_t node, const auto& record) {
            node_component[node] = shared_label(node_component, record);
        });
}

template <class Tree>
void summarise_nodes(const Tree& tree, std::span<const std::size_t> position_component,
                     std::span<const double> position_core,
                     std::span<const BoruvkaCandidate> candidates,
                     std::span<std::size_t> node_component, std::span<double> node_bound,
                     std::size_t first, std::size_t last) {
    check_point_values(tree, position_component.size(), "summarise_nodes");
    check_point_values(tree, position_core.size(), "summarise_nodes");
    if (node_bound.size() != node_component.size()) {
        fail_internal("summarise_nodes: the two summaries differ in size");
    }
    fill_bottom_up(
        tree, node_component.size(), first, last, "summarise_nodes",
        [&](std::size_t node, const auto& record) {
            const std::size_t label = position_component[record.start];
            bool shared = true;
            double largest = 0.0;
            for (std::size_t i = record.start; i < record.end; ++i) {
                const std::size_t component = position_component[i];
                shared = shared && component == label;
                const double weight = open_weight(position_core[i], candidates[component].weight);
                if (weight > largest) largest = weight;
            }
            node_component[node] = shared ? label : NO_COMPONENT;
            node_bound[node] = largest;
        },
        [&](std::size_t node, const auto& record) {
            node_component[node] = shared_label(node_component, record);
            double largest = 0.0;
            for (const std::size_t child : {record.left, record.right}) {
                if (child != NO_NODE && node_bound[child] > largest) largest = node_bound[child];
            }
            node_bound[node] = largest;
        });
}

template <class Tree>
std::vector<std::size_t> collect_subtrees(const Tree& tree, std::size_t target) {
    SubtreeCollector<Tree> collector(tree, target);
    if (!tree.nodes.empty()) collector.collect(0, 0);
    return std::move(collector.list);
}

template void label_nodes(const KdTree&, std::span<const std::size_t>, std::span<std::size_t>,
                          std::size_t, std::size_t);
template void summarise_nodes(const KdTree&, std::span<const std::size_t>, std::span<const double>,
                              std::span<const BoruvkaCandidate>, std::span<std::size_t>,
                              std::span<double>, std::size_t, std::size_t);
template std::vector<std::size_t> collect_subtrees(const KdTree&, std::size_t);

template void label_nodes(const BallTree&, std::span<const std::size_t>, std::span<std::size_t>,
                          std::size_t, std::size_t);
template void summarise_nodes(const BallTree&, std::span<const std::size_t>,
                              std::span<const double>, std::span<const BoruvkaCandidate>,
                              std::span<std::size_t>, std::span<double>, std::size_t, std::size_t);
template std::vector<std::size_t> collect_subtrees(const BallTree&, std::size_t);

template void label_nodes(const BlockTree&, std::span<const std::size_t>, std::span<std::size_t>,
                          std::size_t, std::size_t);

}  // namespace corvane
