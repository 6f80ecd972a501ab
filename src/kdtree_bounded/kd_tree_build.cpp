#include <algorithm>
#include <limits>
#include <numeric>

#include "kdtree_bounded/kd_tree.hpp"
#include "tree_common/row_partition.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Builds the nodes of a KdTree whose `tree_data` starts as a copy of the input rows and
// is rearranged in place, so that every pass over a node's rows streams one contiguous
// block. The boxes of both children are gathered while the parent moves its rows into
// place; they wait in a per-depth slot until the child is created.
class KdBuilder {
  public:
    explicit KdBuilder(KdTree& tree)
        : tree_(tree),
          dims_(tree.dims),
          leaf_size_(KdTree::leaf_size(tree.dims)),
          scratch_(tree.n_points, tree.dims),
          child_boxes_(MAX_DEPTH * 4 * tree.dims) {}

    void build_root() {
        const std::size_t n = tree_.n_points;
        std::vector<double> lo(dims_, INF);
        std::vector<double> hi(dims_, -INF);
        for (std::size_t i = 0; i < n; ++i)
            extend(lo.data(), hi.data(), tree_.tree_data.data() + i * dims_);
        build(0, n, 0, lo.data(), hi.data());
    }

  private:
    // Tree depth stays below log2(n) + 1, far under 64 for any n that fits in memory.
    static constexpr std::size_t MAX_DEPTH = 66;

    void extend(double* lo, double* hi, const double* row) const {
        for (std::size_t j = 0; j < dims_; ++j) {
            if (row[j] < lo[j]) lo[j] = row[j];
            if (row[j] > hi[j]) hi[j] = row[j];
        }
    }

    std::size_t build(std::size_t start, std::size_t end, std::size_t depth, const double* lo,
                      const double* hi) {
        if (start >= end) return NO_NODE;
        const std::size_t node = tree_.nodes.size();
        tree_.lower_bounds.insert(tree_.lower_bounds.end(), lo, lo + dims_);
        tree_.upper_bounds.insert(tree_.upper_bounds.end(), hi, hi + dims_);

        const std::size_t count = end - start;
        KdNode record;
        record.count = count;
        record.start = start;
        record.end = end;
        if (count <= leaf_size_) {
            record.is_leaf = true;
            tree_.nodes.push_back(record);
            return node;
        }

        std::size_t split_dim = 0;
        double best = -INF;
        for (std::size_t j = 0; j < dims_; ++j) {
            const double spread = hi[j] - lo[j];
            if (spread > best) {
                best = spread;
                split_dim = j;
            }
        }
        const std::size_t mid = count / 2;
        double* boxes = child_boxes_.data() + (depth + 1) * 4 * dims_;
        double* left_lo = boxes;
        double* left_hi = boxes + dims_;
        double* right_lo = boxes + 2 * dims_;
        double* right_hi = boxes + 3 * dims_;
        if (dims_ > 0) {
            std::fill(left_lo, left_lo + dims_, INF);
            std::fill(left_hi, left_hi + dims_, -INF);
            std::fill(right_lo, right_lo + dims_, INF);
            std::fill(right_hi, right_hi + dims_, -INF);
            std::span<KeyedRow> keyed(scratch_.keyed.data(), count);
            const double* key = tree_.tree_data.data() + start * dims_ + split_dim;
            for (std::size_t t = 0; t < count; ++t)
                keyed[t] = {key[t * dims_], t};
            select_median(keyed, mid);
            reorder_rows(keyed, tree_.tree_data, tree_.indices, dims_, start, scratch_,
                         [&](std::size_t t, const double* row) {
                             if (t < mid) {
                                 extend(left_lo, left_hi, row);
                             } else {
                                 extend(right_lo, right_hi, row);
                             }
                         });
            record.split_dim = split_dim;
            record.split_value = tree_.tree_data[(start + mid) * dims_ + split_dim];
        }
        tree_.nodes.push_back(record);
        const std::size_t left = build(start, start + mid, depth + 1, left_lo, left_hi);
        const std::size_t right = build(start + mid, end, depth + 1, right_lo, right_hi);
        tree_.nodes[node].left = left;
        tree_.nodes[node].right = right;
        return node;
    }

    KdTree& tree_;
    std::size_t dims_;
    std::size_t leaf_size_;
    PartitionScratch scratch_;
    std::vector<double> child_boxes_;
};

}  // namespace

KdTree KdTree::build(const DataMatrix& matrix) {
    KdTree tree;
    tree.dims = matrix.cols;
    tree.n_points = matrix.rows;
    tree.data = matrix.values;
    tree.tree_data = matrix.values;
    tree.indices.resize(matrix.rows);
    std::iota(tree.indices.begin(), tree.indices.end(), std::size_t{0});

    const std::size_t reserve = 2 * matrix.rows / leaf_size(matrix.cols) + 1;
    tree.nodes.reserve(reserve);
    tree.lower_bounds.reserve(reserve * matrix.cols);
    tree.upper_bounds.reserve(reserve * matrix.cols);
    if (matrix.rows > 0) KdBuilder(tree).build_root();
    return tree;
}

}  // namespace corvane
