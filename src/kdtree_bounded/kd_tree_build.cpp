#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

#include "common/internal_error.hpp"
#include "kdtree_bounded/kd_tree.hpp"
#include "parallel/parallel.hpp"
#include "tree_common/fixed_dims.hpp"
#include "tree_common/rank_select.hpp"
#include "tree_common/row_partition.hpp"
#include "tree_common/tree_shape.hpp"

namespace corvane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Two doubles, the width of the portable build's vector registers; the conditional
// expressions on them below compile to the minimum and maximum instructions, which take
// the second operand on ties exactly as the expressions do.
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));

// The tight box [lo, hi] of `count` rows. With the column count `Dims` fixed at compile
// time (DYNAMIC_DIMS: `dims`), a few rows at a time are taken as pairs of values in
// separate accumulators, which are merged into the columns at the end in a fixed order:
// the box, zero signs included, is that of one fixed order of the rows.
template <std::size_t Dims>
void box_of(const double* rows, std::size_t count, std::size_t dims, double* lo, double* hi,
            const ExecutionContext& context) {
    const std::size_t d = Dims == DYNAMIC_DIMS ? dims : Dims;
    std::fill(lo, lo + d, INF);
    std::fill(hi, hi + d, -INF);
    std::size_t done = 0;
    if constexpr (Dims != DYNAMIC_DIMS) {
        constexpr std::size_t ROWS = Dims < 4 ? 4 : 2;
        constexpr std::size_t PAIRS = ROWS * Dims / 2;
        Pair pair_lo[PAIRS];
        Pair pair_hi[PAIRS];
        for (std::size_t v = 0; v < PAIRS; ++v) {
            pair_lo[v] = Pair{INF, INF};
            pair_hi[v] = Pair{-INF, -INF};
        }
        const std::size_t blocks = count / ROWS;
        for_each_checked(context, 0, blocks, [&](std::size_t block) {
            const double* at = rows + block * ROWS * Dims;
            for (std::size_t v = 0; v < PAIRS; ++v) {
                Pair x;
                std::memcpy(&x, at + 2 * v, sizeof(Pair));
                pair_lo[v] = x < pair_lo[v] ? x : pair_lo[v];
                pair_hi[v] = x > pair_hi[v] ? x : pair_hi[v];
            }
        });
        for (std::size_t v = 0; v < PAIRS; ++v) {
            for (std::size_t l = 0; l < 2; ++l) {
                const std::size_t j = (2 * v + l) % Dims;
                lo[j] = pair_lo[v][l] < lo[j] ? pair_lo[v][l] : lo[j];
                hi[j] = pair_hi[v][l] > hi[j] ? pair_hi[v][l] : hi[j];
            }
        }
        done = blocks * ROWS;
    }
    for_each_checked(context, done, count, [&](std::size_t i) {
        for (std::size_t j = 0; j < d; ++j) {
            const double x = rows[i * d + j];
            lo[j] = x < lo[j] ? x : lo[j];
            hi[j] = x > hi[j] ? x : hi[j];
        }
    });
}

// Passes over ranges of at least this many rows are cut into two parts, which run on two
// threads when the build may use them; the halves of such a range are built on two
// threads. The cut depends on the row count alone, so the tree does not depend on the
// thread count.
constexpr std::size_t PARALLEL_BUILD_ROWS = std::size_t{1} << 15;

// Scratch of one build, one slot per tree position, so that the builds of disjoint
// subtrees share it: a node over positions [start, end) uses slots [start, end) of every
// array. Left uninitialised, as every slot is written before it is read; pages are first
// touched by whichever thread builds that part of the tree.
struct KdScratch {
    std::unique_ptr<double[]> rows;
    std::unique_ptr<std::size_t[]> indices;
    std::unique_ptr<double[]> bucket;
    std::unique_ptr<double[]> work;

    KdScratch(std::size_t n, std::size_t dims)
        : rows(new double[n * dims]),
          indices(new std::size_t[n]),
          bucket(new double[n]),
          work(new double[n]) {}
};

// Rows and their input indices, in tree positions.
struct RowBuffer {
    double* rows;
    std::size_t* indices;
};

// Builds the subtree of one range of a KdTree whose `tree_data` starts as a copy of the
// input rows.
//
// A split moves the node's rows in one pass from the buffer that holds them into the
// other one (tree_data and the scratch take turns level by level), rows below the median
// key first, then rows above it; rows equal to it go to the left child in their order
// until it holds count / 2 rows. Either side keeps the rows in the order they had, which
// fixes the tree however the median is found. A leaf whose rows end up in the scratch
// copies them back.
//
// Every node's number is known before it is built (a subtree's node count depends only
// on its row count), so `nodes` and the bound arrays are allocated once and each node
// writes only its own slots: the boxes of both children are gathered while the parent
// moves its rows, and two subtrees can be built at the same time.
class KdBuilder {
  public:
    KdBuilder(KdTree& tree, KdScratch& scratch, const ExecutionContext& context)
        : tree_(tree),
          dims_(tree.dims),
          leaf_size_(KdTree::leaf_size(tree.dims)),
          scratch_(scratch),
          context_(context) {}

    // Builds [start, end) as node `node`, whose box is already in place and whose rows
    // are in the scratch when `in_scratch`; for `parallel_levels` more levels a large
    // range is split, and its halves built, on two threads.
    void build(std::size_t start, std::size_t end, std::size_t node, bool in_scratch,
               std::size_t parallel_levels) {
        const std::size_t count = end - start;
        KdNode& record = tree_.nodes[node];
        record.count = count;
        record.start = start;
        record.end = end;
        if (count <= leaf_size_) {
            record.is_leaf = true;
            if (in_scratch) copy_back(start, count);
            return;
        }
        if (count >= TREE_CHECK_ROWS) context_.check();

        const std::size_t mid = count / 2;
        const std::size_t left = node + 1;
        const std::size_t right = left + tree_node_count(mid, leaf_size_);
        record.left = left;
        record.right = right;
        const bool parallel = parallel_levels > 0 && count >= PARALLEL_BUILD_ROWS;
        // Without columns the rows stay where they are.
        const bool children_in_scratch = dims_ > 0 ? !in_scratch : in_scratch;
        if (dims_ > 0) split(record, node, start, count, mid, in_scratch, parallel);

        if (parallel) {
            run_tasks(context_, 2, [&](std::size_t half) {
                const std::size_t lo = half == 0 ? start : start + mid;
                const std::size_t hi = half == 0 ? start + mid : end;
                KdBuilder(tree_, scratch_, context_)
                    .build(lo, hi, half == 0 ? left : right, children_in_scratch,
                           parallel_levels - 1);
            });
        } else {
            build(start, start + mid, left, children_in_scratch, parallel_levels);
            build(start + mid, end, right, children_in_scratch, parallel_levels);
        }
    }

  private:
    RowBuffer tree_buffer() { return {tree_.tree_data.data(), tree_.indices.data()}; }
    RowBuffer scratch_buffer() { return {scratch_.rows.get(), scratch_.indices.get()}; }

    void copy_back(std::size_t start, std::size_t count) {
        std::copy(scratch_.rows.get() + start * dims_,
                  scratch_.rows.get() + (start + count) * dims_,
                  tree_.tree_data.data() + start * dims_);
        std::copy(scratch_.indices.get() + start, scratch_.indices.get() + start + count,
                  tree_.indices.data() + start);
    }

    // Chooses the split column, moves the rows of the range to the other buffer around
    // its median and fills in the children's boxes.
    void split(KdNode& record, std::size_t node, std::size_t start, std::size_t count,
               std::size_t mid, bool in_scratch, bool parallel) {
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
        const RowBuffer from = in_scratch ? scratch_buffer() : tree_buffer();
        const RowBuffer to = in_scratch ? tree_buffer() : scratch_buffer();
        with_fixed_dims<KdTree::UNROLLED_DIMS>(dims_, [&](auto fixed) {
            record.split_value = partition<decltype(fixed)::value>(record, start, count, mid,
                                                                   split_dim, from, to, parallel);
        });
        record.split_dim = split_dim;
    }

    // Moves the rows of the range from `from` to `to`, the left child's first, and
    // gathers the children's boxes; returns the median key of column `split_dim`. The
    // column count is fixed at compile time for narrow data.
    template <std::size_t Dims>
    double partition(const KdNode& record, std::size_t start, std::size_t count, std::size_t mid,
                     std::size_t split_dim, RowBuffer from, RowBuffer to, bool parallel) {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? dims_ : Dims;
        const std::size_t parts = count >= PARALLEL_BUILD_ROWS ? 2 : 1;
        const std::size_t bounds_store[3] = {0, parts == 2 ? mid : count, count};
        const std::span<const std::size_t> bounds(bounds_store, parts + 1);
        RankTally tallies_store[2];
        const std::span<RankTally> tallies(tallies_store, parts);
        const auto in_parts = [&](const auto& step) {
            if (parallel && parts == 2) {
                run_tasks(context_, 2, step);
            } else {
                for (std::size_t p = 0; p < parts; ++p)
                    step(p);
            }
        };
        const double* key = from.rows + start * dims + split_dim;
        const double median = select_rank_value(
            count, mid, [&](std::size_t i) { return key[i * dims]; }, bounds, tallies,
            scratch_.bucket.get() + start, scratch_.work.get() + start, in_parts, context_);

        // Part p sends its first `equal_left[p]` rows equal to the median to the left
        // child, after those of the parts before it.
        std::size_t less = 0;
        for (const RankTally& t : tallies)
            less += t.less;
        std::size_t quota = mid - less;
        std::size_t left_at[2];
        std::size_t right_at[2];
        std::size_t equal_left[2];
        std::size_t next_left = start;
        std::size_t next_right = start + mid;
        for (std::size_t p = 0; p < parts; ++p) {
            equal_left[p] = std::min(quota, tallies[p].equal);
            quota -= equal_left[p];
            left_at[p] = next_left;
            right_at[p] = next_right;
            next_left += tallies[p].less + equal_left[p];
            next_right += bounds[p + 1] - bounds[p] - tallies[p].less - equal_left[p];
        }
        if (quota != 0 || next_left != start + mid || next_right != start + count) {
            fail_internal("KdTree::build: median tallies do not add up");
        }

        in_parts([&](std::size_t p) {
            move_rows<Dims>(from, to, start, bounds[p], bounds[p + 1], split_dim, median,
                            left_at[p], right_at[p], equal_left[p], tallies[p].equal);
        });
        const auto child_box = [&](std::size_t side) {
            const std::size_t child = side == 0 ? record.left : record.right;
            const std::size_t first = side == 0 ? start : start + mid;
            box_of<Dims>(to.rows + first * dims, side == 0 ? mid : count - mid, dims,
                         tree_.lower_bounds.data() + child * dims,
                         tree_.upper_bounds.data() + child * dims, context_);
        };
        if (parallel && parts == 2) {
            run_tasks(context_, 2, child_box);
        } else {
            child_box(0);
            child_box(1);
        }
        return median;
    }

    // Moves the rows at offsets [first, last) of the range: a row goes to the left child
    // when its key is below `median`, or equal to it while `equal_left` of the `equal`
    // such rows of the part remain, at left_at and the positions after it, and otherwise
    // at right_at and after.
    template <std::size_t Dims>
    void move_rows(RowBuffer from, RowBuffer to, std::size_t start, std::size_t first,
                   std::size_t last, std::size_t split_dim, double median, std::size_t left_at,
                   std::size_t right_at, std::size_t equal_left, std::size_t equal) const {
        const std::size_t dims = Dims == DYNAMIC_DIMS ? dims_ : Dims;
        std::size_t next_left = left_at;
        std::size_t next_right = right_at;
        const auto move = [&](const auto& goes_left) {
            for_each_checked(context_, start + first, start + last, [&](std::size_t i) {
                const double* row = from.rows + i * dims;
                const bool go_left = goes_left(row[split_dim]);
                const std::size_t at = go_left ? next_left : next_right;
                next_left += go_left ? 1 : 0;
                next_right += go_left ? 0 : 1;
                std::memcpy(to.rows + at * dims, row, dims * sizeof(double));
                to.indices[at] = from.indices[i];
            });
        };
        // A part mostly sends all or none of its rows equal to the median one way.
        if (equal_left == 0) {
            move([median](double k) { return k < median; });
        } else if (equal_left == equal) {
            move([median](double k) { return k <= median; });
        } else {
            move([median, &equal_left](double k) {
                const bool take = k == median && equal_left > 0;
                equal_left -= take ? 1 : 0;
                return k < median || take;
            });
        }
    }

    KdTree& tree_;
    std::size_t dims_;
    std::size_t leaf_size_;
    KdScratch& scratch_;
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
            with_fixed_dims<UNROLLED_DIMS>(dims, [&](auto fixed) {
                box_of<decltype(fixed)::value>(tree.tree_data.data(), n, dims, root_lo.data(),
                                               root_hi.data(), context);
            });
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
    KdScratch scratch(n, dims);
    KdBuilder(tree, scratch, context).build(0, n, 0, false, parallel_levels(threads));
    return tree;
}

}  // namespace corvane
