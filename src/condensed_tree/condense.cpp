#include "condensed_tree/condense.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/internal_error.hpp"

namespace corvane {

namespace {

class Condenser {
  public:
    Condenser(const SingleLinkageTree& tree, std::size_t n) : rows_(tree.rows), n_(n) {}

    const LinkageRow& row_of(std::size_t node) const {
        check_index(node - n_, rows_.size(), "single-linkage node");
        return rows_[node - n_];
    }

    std::size_t size_of(std::size_t node) const { return node < n_ ? 1 : row_of(node).size; }

    // Emits every point under `node` as a child of `cluster`, each with the
    // largest lambda on its path from `node` down, left side first.
    void drop_points(std::size_t node, std::size_t cluster, double lambda,
                     std::vector<CondensedEdge>& out) {
        pending_.clear();
        pending_.push_back({node, lambda});
        while (!pending_.empty()) {
            const Pending top = pending_.back();
            if (top.node < n_) {
                out.push_back({cluster, top.node, top.lambda, 1});
                pending_.pop_back();
                continue;
            }
            const LinkageRow& row = row_of(top.node);
            const double below =
                std::isnan(top.lambda) ? row.lambda : std::max(top.lambda, row.lambda);
            pending_.back() = {row.right, below};
            pending_.push_back({row.left, below});
        }
    }

  private:
    struct Pending {
        std::size_t node;
        double lambda;
    };

    const std::vector<LinkageRow>& rows_;
    std::size_t n_;
    std::vector<Pending> pending_;
};

}  // namespace

CondensedTree condense(const SingleLinkageTree& tree, std::size_t n, std::size_t min_cluster_size) {
    CondensedTree result;
    if (tree.rows.empty()) return result;
    if (min_cluster_size < 2) fail_internal("condense: min_cluster_size must be at least 2");
    if (tree.rows.back().size != n) fail_internal("condense: the root does not hold every point");

    Condenser condenser(tree, n);
    result.edges.reserve(n + n / min_cluster_size);

    struct Work {
        std::size_t node;
        std::size_t cluster;
    };
    std::vector<Work> work{{n + tree.rows.size() - 1, n}};
    std::size_t next_cluster = n + 1;
    const std::size_t m = min_cluster_size;

    while (!work.empty()) {
        const Work item = work.back();
        work.pop_back();
        const LinkageRow& row = condenser.row_of(item.node);
        const std::size_t ls = condenser.size_of(row.left);
        const std::size_t rs = condenser.size_of(row.right);
        const bool left_small = ls < m;
        const bool right_small = rs < m;

        // Lambda +infinity joins identical points: never a real split, and
        // nothing below it can be one either.
        if ((left_small && right_small) || std::isinf(row.lambda)) {
            condenser.drop_points(row.left, item.cluster, row.lambda, result.edges);
            condenser.drop_points(row.right, item.cluster, row.lambda, result.edges);
        } else if (left_small) {
            condenser.drop_points(row.left, item.cluster, row.lambda, result.edges);
            work.push_back({row.right, item.cluster});
        } else if (right_small) {
            condenser.drop_points(row.right, item.cluster, row.lambda, result.edges);
            work.push_back({row.left, item.cluster});
        } else {
            // Last in, first out: the right child's subtree is condensed, and
            // numbered, before the left child's.
            const std::size_t a = next_cluster++;
            const std::size_t b = next_cluster++;
            result.edges.push_back({item.cluster, a, row.lambda, ls});
            work.push_back({row.left, a});
            result.edges.push_back({item.cluster, b, row.lambda, rs});
            work.push_back({row.right, b});
        }
    }
    return result;
}

}  // namespace corvane
