#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "condensed_tree/condensed_tree.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "linkage/preorder_linkage.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// The pre-order layout as a tree.
struct PreorderTree {
    using Node = PreorderLinkage::Node;

    const PreorderLinkage& tree;

    Node root() const { return tree.root(); }
    bool is_point(const Node& node) const { return tree.is_point(node); }
    std::size_t point(const Node& node) const { return tree.point(node); }
    std::size_t smallest_point(const Node& node) const { return tree.smallest_point(node); }
    std::size_t size(const Node& node) const { return node.size; }
    double lambda(const Node& node) const { return tree.lambda(node); }
    Node left(const Node& node) const { return tree.left(node); }
    Node right(const Node& node) const { return tree.right(node); }
};

// Marks no part: the whole walk in one go.
struct WholeWalk {
    template <class Work>
    void hand_off(std::span<Work>) const {}
    void reached(std::size_t, std::size_t) const {}
};

// The condensing walk, written once over a binary tree that offers root(), is_point(),
// point(), smallest_point(), size(), lambda(), left() and right() of its Node type. The
// edges go to an output that offers push_back(CondensedEdge) (and reserve(), for the
// whole tree).
template <class Tree>
class Condenser {
  public:
    using Node = typename Tree::Node;

    Condenser(const Tree& tree, std::size_t n, std::size_t min_cluster_size,
              const ExecutionContext& context)
        : tree_(tree), n_(n), m_(min_cluster_size), context_(context) {}

    struct Work {
        Node node;
        std::size_t cluster;
        // Set by a Split that takes the part over (see run).
        std::size_t handed_off = NOT_HANDED_OFF;
    };
    static constexpr std::size_t NOT_HANDED_OFF = static_cast<std::size_t>(-1);

    // Condenses the subtree of start.node as cluster start.cluster, numbering new clusters
    // from next_cluster on. After every real split, split.hand_off(parts) sees the work
    // items of the new clusters (the last part on top) and may mark some as handed off;
    // when the walk reaches a marked item, where it would have condensed that part, it
    // calls split.reached(handed_off, next_cluster) instead. A Split that marks nothing
    // gives the whole walk.
    template <class Out, class Split>
    void run(Out& out, const Work& start, std::size_t next_cluster, Split& split) {
        std::vector<Work> work{start};
        while (!work.empty()) {
            Work item = work.back();
            work.pop_back();
            if (item.handed_off != NOT_HANDED_OFF) {
                split.reached(item.handed_off, next_cluster);
                continue;
            }
            // A cluster that goes on into one large part is followed down in this loop.
            for (bool goes_on = true; goes_on;) {
                context_.check_every(++steps_);
                goes_on = false;
                const double lambda = tree_.lambda(item.node);
                level_parts(item.node, lambda);

                std::size_t large_parts = 0;
                for (const Node& part : parts_)
                    large_parts += tree_.size(part) >= m_ ? 1 : 0;

                Node next{};
                for (const Node& part : parts_) {
                    const std::size_t size = tree_.size(part);
                    if (size < m_) {
                        drop_points(part, item.cluster, lambda, out);
                    } else if (large_parts == 1) {
                        // Taken up once the small parts after it are dropped, as the work
                        // stack would.
                        next = part;
                        goes_on = true;
                    } else {
                        // A real split: new clusters in part order; last in, first
                        // out, so the last part is condensed, and numbered, first.
                        const std::size_t child = next_cluster++;
                        out.push_back({item.cluster, child, lambda, size});
                        work.push_back({part, child});
                    }
                }
                if (goes_on) item.node = next;
                if (large_parts > 1) {
                    split.hand_off(std::span<Work>(work).last(large_parts));
                }
            }
        }
    }

    // The whole tree: the root as cluster n, new clusters from n + 1 on.
    template <class Out>
    void run(Out& out) {
        out.reserve(n_ + n_ / m_);
        WholeWalk whole;
        run(out, {tree_.root(), n_}, n_ + 1, whole);
    }

  private:
    struct Pending {
        Node node;
        double lambda;
    };

    // Merges at the same lambda are one level of the hierarchy, however the
    // single-linkage tree happened to pair them: the parts that split at the
    // level of `node` are the nodes below it. Reading the pairing as splits
    // would give clusters that are born and end at the same lambda and could
    // separate identical points. At lambda +infinity every part is a single
    // point. The parts come in the order of their smallest points, which
    // depends on the parts alone: spanning trees of equal weight pair them
    // differently, and give the two sides of even a plain split in either order
    // (the sides follow the union-find's representatives, which follow the
    // edges that formed each side).
    void level_parts(const Node& node, double lambda) {
        parts_.clear();
        const Node left = tree_.left(node);
        const Node right = tree_.right(node);
        if (!on_level(left, lambda) && !on_level(right, lambda)) {
            const bool left_first = tree_.smallest_point(left) < tree_.smallest_point(right);
            parts_.push_back(left_first ? left : right);
            parts_.push_back(left_first ? right : left);
            return;
        }
        expand_.assign({right, left});
        while (!expand_.empty()) {
            context_.check_every(++steps_);
            const Node below = expand_.back();
            expand_.pop_back();
            if (on_level(below, lambda)) {
                expand_.push_back(tree_.right(below));
                expand_.push_back(tree_.left(below));
            } else {
                parts_.push_back(below);
            }
        }
        std::sort(parts_.begin(), parts_.end(), [&](const Node& x, const Node& y) {
            return tree_.smallest_point(x) < tree_.smallest_point(y);
        });
    }

    bool on_level(const Node& node, double lambda) const {
        return !tree_.is_point(node) && tree_.lambda(node) == lambda;
    }

    // Emits every point under `node` as a child of `cluster`, each with the
    // largest lambda on its path from `node` down, left side first.
    template <class Out>
    void drop_points(const Node& node, std::size_t cluster, double lambda, Out& out) {
        if (tree_.is_point(node)) {
            out.push_back({cluster, tree_.point(node), lambda, 1});
            return;
        }
        pending_.clear();
        pending_.push_back({node, lambda});
        while (!pending_.empty()) {
            context_.check_every(++steps_);
            const Pending top = pending_.back();
            if (tree_.is_point(top.node)) {
                out.push_back({cluster, tree_.point(top.node), top.lambda, 1});
                pending_.pop_back();
                continue;
            }
            const double row_lambda = tree_.lambda(top.node);
            const double below =
                std::isnan(top.lambda) ? row_lambda : std::max(top.lambda, row_lambda);
            pending_.back() = {tree_.right(top.node), below};
            pending_.push_back({tree_.left(top.node), below});
        }
    }

    const Tree& tree_;
    std::size_t n_;
    std::size_t m_;
    // Checked every SHORT_STEPS_PER_CHECK steps of the walk, which are a few nanoseconds
    // each.
    const ExecutionContext& context_;
    std::size_t steps_ = 0;
    std::vector<Node> expand_;
    std::vector<Node> parts_;
    std::vector<Pending> pending_;
};

// The whole walk over the pre-order layout into a packed tree; min_cluster_size is at
// least 2 and the tree holds a row.
inline PackedCondensedTree condense_in_one_walk(const PreorderLinkage& tree,
                                                std::size_t min_cluster_size,
                                                const ExecutionContext& context) {
    PackedCondensedTree result(tree.points());
    const PreorderTree preorder{tree};
    Condenser<PreorderTree>(preorder, tree.points(), min_cluster_size, context).run(result);
    return result;
}

}  // namespace corvane
