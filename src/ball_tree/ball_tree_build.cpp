#include <cmath>
#include <numeric>

#include "ball_tree/ball_tree.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "tree_common/row_partition.hpp"
#include "tree_common/tree_shape.hpp"

namespace corvane {
namespace {

// Builds the nodes of a BallTree whose `tree_data` starts as a copy of the input rows
// and is rearranged in place, so that every pass over a node's rows streams one
// contiguous block.
class BallBuilder {
  public:
    BallBuilder(BallTree& tree, const ExecutionContext& context)
        : tree_(tree),
          dims_(tree.dims),
          scratch_(tree.n_points, tree.dims),
          direction_(tree.dims),
          context_(context) {}

    std::size_t build(std::size_t start, std::size_t end) {
        if (start >= end) return NO_NODE;
        const std::size_t count = end - start;
        if (count >= TREE_CHECK_ROWS) context_.check();
        const std::size_t node = tree_.nodes.size();
        tree_.centroids.resize(tree_.centroids.size() + dims_, 0.0);
        double* centroid = tree_.centroids.data() + node * dims_;
        const double* rows = tree_.tree_data.data() + start * dims_;

        for (std::size_t i = 0; i < count; ++i) {
            context_.check_every(i);
            const double* row = rows + i * dims_;
            for (std::size_t j = 0; j < dims_; ++j)
                centroid[j] += row[j];
        }
        const double scale = 1.0 / static_cast<double>(count);
        for (std::size_t j = 0; j < dims_; ++j)
            centroid[j] *= scale;

        const Farthest a = farthest_row(rows, count, centroid, 0);
        BallNode record;
        record.radius_sq = a.distance;
        record.radius = std::sqrt(record.radius_sq);
        record.count = count;
        record.start = start;
        record.end = end;
        if (count <= BallTree::LEAF_SIZE) {
            record.is_leaf = true;
            tree_.nodes.push_back(record);
            return node;
        }

        // Key of a row x: (x - A) . (B - A), summed from column 0.
        const double* a_row = rows + a.offset * dims_;
        const double* b_row = rows + farthest_row(rows, count, a_row, a.offset).offset * dims_;
        for (std::size_t j = 0; j < dims_; ++j)
            direction_[j] = b_row[j] - a_row[j];
        const std::span<KeyedRow> keyed = scratch_.keyed_range(start, count);
        for (std::size_t i = 0; i < count; ++i) {
            context_.check_every(i);
            const double* row = rows + i * dims_;
            double key = 0.0;
            for (std::size_t j = 0; j < dims_; ++j)
                key += (row[j] - a_row[j]) * direction_[j];
            keyed[i] = {key, i};
        }
        const std::size_t mid = count / 2;
        select_median(keyed, mid, context_);
        reorder_rows(keyed, tree_.tree_data, tree_.indices, dims_, start, scratch_, context_,
                     [](std::size_t, const double*) {});

        tree_.nodes.push_back(record);
        const std::size_t left = build(start, start + mid);
        const std::size_t right = build(start + mid, end);
        tree_.nodes[node].left = left;
        tree_.nodes[node].right = right;
        return node;
    }

  private:
    struct Farthest {
        std::size_t offset;
        double distance;  // squared
    };

    // The first row with the largest squared distance to `from`; `fallback` at distance 0
    // when every row sits on it.
    Farthest farthest_row(const double* rows, std::size_t count, const double* from,
                          std::size_t fallback) const {
        Farthest best{fallback, 0.0};
        for (std::size_t i = 0; i < count; ++i) {
            context_.check_every(i);
            const double d = squared_distance(rows + i * dims_, from, dims_);
            if (d > best.distance) best = {i, d};
        }
        return best;
    }

    BallTree& tree_;
    std::size_t dims_;
    PartitionScratch scratch_;
    std::vector<double> direction_;
    const ExecutionContext& context_;
};

}  // namespace

BallTree BallTree::build(const DataMatrix& matrix, const ExecutionContext& context) {
    BallTree tree;
    tree.dims = matrix.cols;
    tree.n_points = matrix.rows;
    tree.tree_data = matrix.values;
    tree.indices.resize(matrix.rows);
    std::iota(tree.indices.begin(), tree.indices.end(), std::size_t{0});

    const std::size_t reserve = tree_node_count(matrix.rows, LEAF_SIZE);
    tree.nodes.reserve(reserve);
    tree.centroids.reserve(reserve * matrix.cols);
    if (matrix.rows > 0) BallBuilder(tree, context).build(0, matrix.rows);
    return tree;
}

}  // namespace corvane
