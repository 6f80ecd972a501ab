#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

#include "kdtree_bounded/kd_tree.hpp"
#include "parallel/parallel.hpp"
#include "tree_common/fixed_dims.hpp"
#include "tree_common/row_partition.hpp"
#include "tree_common/tree_shape.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Widens the box [lo, hi] to hold `row`. `Dims` fixes the column count at compile time
// (DYNAMIC_DIMS: `dims`), so that the loop unrolls into minimum and maximum instructions.
template <std::size_t Dims = DYNAMIC_DIMS>
void extend_box(double* lo, double* hi, const double* row, std::size_t dims) {
    const std::size_t n = Dims == DYNAMIC_DIMS ? dims : Dims;
    for (std::size_t j = 0; j < n; ++j) {
        lo[j] = std::min(lo[j], row[j]);
        hi[j] = std::max(hi[j], row[j]);
    }
}

// Ranges of at least this many rows are split by two threads, and their two halves built
// on two threads.
constexpr std::size_t PARALLEL_BUILD_ROWS = std::size_t{1} << 15;

// Builds the subtree of one range of a KdTree whose `tree_data` starts as a copy of the
// input rows and is rearranged in place, so that every pass over a node's rows streams
// one contiguous block.
//
// Every node's number is known before it is built (a subtree's node count depends only
// on its row count), so `nodes` and the bound arrays are allocated once and each node
// writes only its own slots: the boxes of both children are gathered while the parent
// moves its rows into place, and two subtrees can be built at the same time, sharing one
// scratch in which each uses the slots of its own positions.
class KdBuilder {
  public:
    KdBuilder(KdTree& tree, PartitionScratch& scratch, const ExecutionContext& context)
        : tree_(tree),
          dims_(tree.dims),
          leaf_size_(KdTree::leaf_size(tree.dims)),
          scratch_(scratch),
          context_(context) {}

    // Builds [start, end) as node `node`, whose box is already in place; for
    // `parallel_levels` more levels a large range is split, and its halves built, on two
    // threads.
    void build(std::size_t start, std::size_t end, std::size_t node, std::size_t parallel_levels) {
        const std::size_t count = end - start;
        KdNode& record = tree_.nodes[node];
        record.count = count;
        record.start = start;
        record.end = end;
        if (count <= leaf_size_) {
            record.is_leaf = true;
            return;
        }
        if (count >= TREE_CHECK_ROWS) context_.check();

        const std::size_t mid = count / 2;
        const std::size_t left = node + 1;
        const std::size_t right = left + tree_node_count(mid, leaf_size_);
        record.left = left;
        record.right = right;
        const bool parallel = parallel_levels > 0 && count >= PARALLEL_BUILD_ROWS;
        if (dims_ > 0) split(record, node, start, count, mid, parallel);

        if (parallel) {
            run_tasks(context_, 2, [&](std::size_t half) {
                const std::size_t lo = half == 0 ? start : start + mid;
                const std::size_t hi = half == 0 ? start + mid : end;
                KdBuilder(tree_, scratch_, context_)
                    .build(lo, hi, half == 0 ? left : right, parallel_levels - 1);
            });
        } else {
            build(start, start + mid, left, parallel_levels);
            build(start + mid, end, right, parallel_levels);
        }
    }

  private:
    // Chooses the split column, moves the rows of the range around its median and fills
    // in the children's boxes. With `parallel`, the passes before and after the median
    // selection run in two halves on two threads; each child's box is gathered by the
    // half that moves the child's rows.
    void split(KdNode& record, std::size_t node, std::size_t start, std::size_t count,
               std::size_t mid, bool parallel) {
        const std::size_t left = record.left;
        const std::size_t right = record.right;
        const double* lo = tree_.lower_bounds.data() + node * dims_;
        const double* hi = tree_.upper_bounds.data() + node * dims_;
        std::size_t split_dim = 0;
        double best = -INF;
        for (std::size_t j = 0; j < dims_; ++j) {
            const double spread = hi[j] - lo[j];
            if (spread > best) {
                best = spread;
                split_dim = j;
            }
        }

        double* left_lo = tree_.lower_bounds.data() + left * dims_;
        double* left_hi = tree_.upper_bounds.data() + left * dims_;
        double* right_lo = tree_.lower_bounds.data() + right * dims_;
        double* right_hi = tree_.upper_bounds.data() + right * dims_;
        std::fill(left_lo, left_lo + dims_, INF);
        std::fill(left_hi, left_hi + dims_, -INF);
        std::fill(right_lo, right_lo + dims_, INF);
        std::fill(right_hi, right_hi + dims_, -INF);

        with_fixed_dims<KdTree::UNROLLED_DIMS>(dims_, [&](auto fixed) {
            partition<decltype(fixed)::value>(start, count, mid, split_dim, parallel, left_lo,
                                              left_hi, right_lo, right_hi);
        });
        record.split_dim = split_dim;
        record.split_value = tree_.tree_data[(start + mid) * dims_ + split_dim];
    }

    // Moves the rows of the range around the median of column `split_dim` and gathers the
    // children's boxes, with the column count fixed at compile time for narrow data.
    template <std::size_t Dims>
    void partition(std::size_t start, std::size_t count, std::size_t mid, std::size_t split_dim,
                   bool parallel, double* left_lo, double* left_hi, double* right_lo,
                   double* right_hi) {
        const std::span<KeyedRow> keyed = scratch_.keyed_range(start, count);
        const double* key = tree_.tree_data.data() + start * dims_ + split_dim;
        const auto in_halves = [&](const auto& part) {
            if (parallel) {
                run_tasks(context_, 2, [&](std::size_t half) {
                    part(half == 0 ? 0 : mid, half == 0 ? mid : count);
                });
            } else {
                part(0, count);
            }
        };
        in_halves([&](std::size_t first, std::size_t last) {
            for (std::size_t t = first; t < last; ++t) {
                context_.check_every(t);
                keyed[t] = {key[t * (Dims == DYNAMIC_DIMS ? dims_ : Dims)], t};
            }
        });
        select_median(keyed, mid, context_);
        in_halves([&](std::size_t first, std::size_t last) {
            gather_rows<Dims>(keyed, tree_.tree_data, tree_.indices, dims_, start, first, last,
                              scratch_, context_, [&](std::size_t t, const double* row) {
                                  if (t < mid) {
                                      extend_box<Dims>(left_lo, left_hi, row, dims_);
                                  } else {
                                      extend_box<Dims>(right_lo, right_hi, row, dims_);
                                  }
                              });
        });
        in_halves([&](std::size_t first, std::size_t last) {
            put_back_rows(tree_.tree_data, tree_.indices, dims_, start, first, last, scratch_);
        });
    }

    KdTree& tree_;
    std::size_t dims_;
    std::size_t leaf_size_;
    PartitionScratch& scratch_;
    const ExecutionContext& context_;
};

// Levels of two-way splits that keep at most `threads` subtrees building at once.
std::size_t parallel_levels(std::size_t threads) {
    std::size_t levels = 0;
    while (levels < 16 && (std::size_t{2} << levels) <= threads)
        ++levels;
    return levels;
}

}  // namespace

KdTree KdTree::build(const DataMatrix& matrix, const ExecutionContext& context) {
    return build(matrix.values, matrix.rows, matrix.cols, context);
}

KdTree KdTree::build(std::vector<double> rows, std::size_t n, std::size_t dims,
                     const ExecutionContext& context) {
    const std::size_t threads = context.threads();
    KdTree tree;
    tree.dims = dims;
    tree.n_points = n;
    tree.tree_data = std::move(rows);
    const std::size_t n_nodes = tree_node_count(n, leaf_size(dims));
    // The root box and the other arrays are filled on two threads for a large matrix:
    // first touching fresh memory costs about as much as writing it.
    std::vector<double> root_lo(dims, INF);
    std::vector<double> root_hi(dims, -INF);
    const auto fill = [&](std::size_t part) {
        if (part == 0) {
            for (std::size_t i = 0; i < n; ++i) {
                context.check_every(i);
                extend_box(root_lo.data(), root_hi.data(), tree.tree_data.data() + i * dims, dims);
            }
        } else {
            tree.indices.resize(n);
            std::iota(tree.indices.begin(), tree.indices.end(), std::size_t{0});
            tree.nodes.resize(n_nodes);
            tree.lower_bounds.resize(n_nodes * dims);
            tree.upper_bounds.resize(n_nodes * dims);
        }
    };
    if (threads >= 2 && n >= PARALLEL_BUILD_ROWS) {
        run_tasks(context, 2, fill);
    } else {
        fill(0);
        fill(1);
    }
    if (n == 0) return tree;

    std::copy(root_lo.begin(), root_lo.end(), tree.lower_bounds.begin());
    std::copy(root_hi.begin(), root_hi.end(), tree.upper_bounds.begin());
    PartitionScratch scratch(n, dims);
    KdBuilder(tree, scratch, context).build(0, n, 0, parallel_levels(threads));
    return tree;
}

}  // namespace corvane
