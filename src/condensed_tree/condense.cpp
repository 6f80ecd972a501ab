#include "condensed_tree/condense.hpp"

#include <vector>

#include "common/internal_error.hpp"
#include "condensed_tree/condense_in_tasks.hpp"
#include "condensed_tree/condense_walk.hpp"
#include "parallel/parallel.hpp"

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
    if (tree.empty()) return PackedCondensedTree(tree.points());
    check_min_cluster_size(min_cluster_size);
    // Tasks pay for a second copy of the edges: at 10 000 000 points they condense in two
    // thirds of the one walk's time on 2 processors, at 100 000 000 in more than twice it.
    constexpr std::size_t most_points_for_tasks = std::size_t{1} << 24;
    const std::size_t threads = context.threads();
    if (threads < 2 || tree.points() < PARALLEL_MIN_SHORT_STEPS ||
        tree.points() > most_points_for_tasks) {
        return condense_in_one_walk(tree, min_cluster_size, context);
    }
    // Parts of a sixty-fourth of a thread's share: at 10 000 000 points, parts of a
    // sixteenth left more than half the edges in the first task's walk. Tasks stay few
    // enough that starting one costs nothing beside it.
    return condense_in_tasks(tree, min_cluster_size, tree.points() / (threads * 64), context);
}

}  // namespace corvane
