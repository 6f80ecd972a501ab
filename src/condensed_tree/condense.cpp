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
            // The right side is read only after the whole left side: fetch it now.
            if (row.right >= n_) __builtin_prefetch(&rows_[row.right - n_]);
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
    std::vector<std::size_t> expand;
    std::vector<std::size_t> parts;
    std::size_t next_cluster = n + 1;
    const std::size_t m = min_cluster_size;

    while (!work.empty()) {
        const Work item = work.back();
        work.pop_back();
        const double lambda = condenser.row_of(item.node).lambda;

        // Merges at the same lambda are one level of the hierarchy, however
        // the single-linkage tree happened to pair them: the parts that split
        // here are the nodes below this level, left side first. Reading the
        // pairing as splits would give clusters that are born and end at the
        // same lambda and could separate identical points. At lambda
        // +infinity every part is a single point.
        parts.clear();
        expand.assign({item.node});
        while (!expand.empty()) {
            const std::size_t node = expand.back();
            expand.pop_back();
            if (node >= n && condenser.row_of(node).lambda == lambda) {
                const LinkageRow& row = condenser.row_of(node);
                expand.push_back(row.right);
                expand.push_back(row.left);
            } else {
                parts.push_back(node);
            }
        }

        std::size_t large_parts = 0;
        for (std::size_t part : parts)
            large_parts += condenser.size_of(part) >= m ? 1 : 0;

        for (std::size_t part : parts) {
            const std::size_t size = condenser.size_of(part);
            if (size < m) {
                condenser.drop_points(part, item.cluster, lambda, result.edges);
            } else if (large_parts == 1) {
                work.push_back({part, item.cluster});
            } else {
                // A real split: new clusters in part order; last in, first
                // out, so the rightmost part is condensed, and numbered, first.
                const std::size_t child = next_cluster++;
                result.edges.push_back({item.cluster, child, lambda, size});
                work.push_back({part, child});
            }
        }
    }
    return result;
}

}  // namespace corvane
