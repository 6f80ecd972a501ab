#include "condensed_tree/condense.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/internal_error.hpp"

namespace corvane {

namespace {

// The rows in merge order as a tree: node ids as the rows name them.
class RowTree {
  public:
    using Node = std::size_t;

    RowTree(const SingleLinkageTree& tree, std::size_t n)
        : rows_(tree.rows), n_(n), smallest_(smallest_points(tree, n)) {}

    Node root() const { return n_ + rows_.size() - 1; }
    bool is_point(Node node) const { return node < n_; }
    std::size_t point(Node node) const { return node; }
    std::size_t smallest_point(Node node) const { return node < n_ ? node : smallest_[node - n_]; }
    std::size_t size(Node node) const { return node < n_ ? 1 : row(node).size; }
    double lambda(Node node) const { return row(node).lambda; }
    Node left(Node node) const { return row(node).left; }
    Node right(Node node) const {
        const std::size_t right = row(node).right;
        // Read only after the whole left side: fetch it now.
        if (right >= n_) __builtin_prefetch(&rows_[right - n_]);
        return right;
    }

  private:
    const LinkageRow& row(Node node) const {
        check_index(node - n_, rows_.size(), "single-linkage node");
        return rows_[node - n_];
    }

    const std::vector<LinkageRow>& rows_;
    std::size_t n_;
    IndexArray smallest_;  // per row
};

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

// The condensing walk, written once over a binary tree that offers root(), is_point(),
// point(), smallest_point(), size(), lambda(), left() and right() of its Node type. The
// edges go to an output that offers reserve() and push_back(CondensedEdge).
template <class Tree>
class Condenser {
  public:
    using Node = typename Tree::Node;

    Condenser(const Tree& tree, std::size_t n, std::size_t min_cluster_size,
              const ExecutionContext& context)
        : tree_(tree), n_(n), m_(min_cluster_size), context_(context) {}

    template <class Out>
    void run(Out& out) {
        out.reserve(n_ + n_ / m_);
        std::vector<Work> work{{tree_.root(), n_}};
        std::size_t next_cluster = n_ + 1;

        while (!work.empty()) {
            Work item = work.back();
            work.pop_back();
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
            }
        }
    }

  private:
    struct Work {
        Node node;
        std::size_t cluster;
    };
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

void check_min_cluster_size(std::size_t min_cluster_size) {
    if (min_cluster_size < 2) fail_internal("condense: min_cluster_size must be at least 2");
}

}  // namespace

CondensedTree condense(const SingleLinkageTree& tree, std::size_t n, std::size_t min_cluster_size) {
    if (tree.rows.empty()) return {};
    check_min_cluster_size(min_cluster_size);
    if (tree.rows.back().size != n) fail_internal("condense: the root does not hold every point");
    const RowTree rows(tree, n);
    CondensedTree result;
    Condenser<RowTree>(rows, n, min_cluster_size, ExecutionContext()).run(result.edges);
    return result;
}

PackedCondensedTree condense(const PreorderLinkage& tree, std::size_t min_cluster_size,
                             const ExecutionContext& context) {
    PackedCondensedTree result(tree.points());
    if (tree.empty()) return result;
    check_min_cluster_size(min_cluster_size);
    const PreorderTree preorder{tree};
    Condenser<PreorderTree>(preorder, tree.points(), min_cluster_size, context).run(result);
    return result;
}

}  // namespace corvane
