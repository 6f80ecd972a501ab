#include "block_search/block_tree.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>
#include <utility>

#include "block_search/floor_kernel.hpp"
#include "common/internal_error.hpp"
#include "distance/euclidean/squared_distance.hpp"
#include "parallel/parallel.hpp"
#include "tree_common/row_partition.hpp"
#include "tree_common/tree_shape.hpp"

namespace corvane {
namespace {

// Rounds of two-means after the two starting rows, on a sample of at most SAMPLE_ROWS
// rows taken at equal strides; the final assignment takes every row.
constexpr std::size_t TWO_MEANS_ROUNDS = 4;
constexpr std::size_t SAMPLE_ROWS = 512;
// Uneven splits in a row that a path down the tree may take before an even one.
constexpr int UNEVEN_SPLITS = 4;
// Subtrees of more rows than this may be built on a thread of their own.
constexpr std::size_t PARALLEL_SUBTREE_ROWS = 4096;

// Builds the nodes of a BlockTree whose tree_data starts as a copy of the input rows and is
// rearranged in place. Nodes are appended in preorder; the subtrees handed to other
// threads are built into node lists of their own and spliced in afterwards, which gives
// the same numbering as building everything in turn.
class BlockBuilder {
  public:
    BlockBuilder(BlockTree& tree, PartitionScratch& scratch, const ExecutionContext& context)
        : tree_(tree), dims_(tree.dims), scratch_(scratch), context_(context) {}

    struct Subtree {
        std::vector<BlockNode> nodes;
        std::vector<double> centroids;
    };

    // Builds the subtree over [start, end) into `out`, its root at out.nodes.size();
    // the node numbers stored are relative to `base` (the number the root will get).
    void build(std::size_t start, std::size_t end, std::size_t base, Subtree& out,
               std::size_t threads, int uneven_left = UNEVEN_SPLITS) {
        context_.check();
        const std::size_t count = end - start;
        const std::size_t node = out.nodes.size();
        out.centroids.resize(out.centroids.size() + dims_, 0.0);
        double* centroid = out.centroids.data() + node * dims_;
        const double* rows = tree_.tree_data.data() + start * dims_;
        mean_of(rows, count, centroid);
        BlockNode record;
        record.count = count;
        record.start = start;
        record.end = end;
        record.radius = std::sqrt(farthest(rows, count, centroid, 0).second);
        if (count <= GramScreen::MAX_BLOCK_ROWS) {
            record.is_leaf = true;
            out.nodes.push_back(record);
            return;
        }
        const std::size_t mid = split(start, count, centroid, uneven_left > 0);
        out.nodes.push_back(record);
        // An uneven split spends one of the path's allowance on its larger side.
        const bool uneven = std::min(mid, count - mid) < count / 8;
        const int left_allowance = uneven && mid > count - mid ? uneven_left - 1 : UNEVEN_SPLITS;
        const int right_allowance = uneven && mid < count - mid ? uneven_left - 1 : UNEVEN_SPLITS;
        if (threads >= 2 && count > PARALLEL_SUBTREE_ROWS) {
            Subtree right;
            run_tasks(context_, 2, [&](std::size_t side) {
                if (side == 0) {
                    out.nodes[node].left = base + out.nodes.size();
                    build(start, start + mid, base, out, threads / 2, left_allowance);
                } else {
                    build(start + mid, end, 0, right, threads - threads / 2, right_allowance);
                }
            });
            // The right subtree's nodes were numbered from 0; they follow the left subtree.
            const std::size_t shift = base + out.nodes.size();
            out.nodes[node].right = shift;
            for (BlockNode& child : right.nodes) {
                if (child.left != NO_NODE) child.left += shift;
                if (child.right != NO_NODE) child.right += shift;
            }
            out.nodes.insert(out.nodes.end(), right.nodes.begin(), right.nodes.end());
            out.centroids.insert(out.centroids.end(), right.centroids.begin(),
                                 right.centroids.end());
            return;
        }
        out.nodes[node].left = base + out.nodes.size();
        build(start, start + mid, base, out, 1, left_allowance);
        out.nodes[node].right = base + out.nodes.size();
        build(start + mid, end, base, out, 1, right_allowance);
    }

  private:
    void mean_of(const double* rows, std::size_t count, double* mean) const {
        std::fill(mean, mean + dims_, 0.0);
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t c = 0; c < dims_; ++c)
                mean[c] += rows[i * dims_ + c];
        }
        const double scale = 1.0 / static_cast<double>(count);
        for (std::size_t c = 0; c < dims_; ++c)
            mean[c] *= scale;
    }

    // The first row with the largest squared distance to `from` and that distance;
    // `fallback` at distance 0 when every row sits on it.
    std::pair<std::size_t, double> farthest(const double* rows, std::size_t count,
                                            const double* from, std::size_t fallback) const {
        std::pair<std::size_t, double> best{fallback, 0.0};
        for (std::size_t i = 0; i < count; ++i) {
            const double d = squared_distance(rows + i * dims_, from, dims_);
            if (d > best.second) best = {i, d};
        }
        return best;
    }

    // Reorders the rows of [start, start + count) so that the first `mid` rows form one
    // side; returns mid. An uneven two-means split is taken only when `uneven_allowed`.
    std::size_t split(std::size_t start, std::size_t count, const double* centroid,
                      bool uneven_allowed) {
        const double* rows = tree_.tree_data.data() + start * dims_;
        const std::size_t stride = std::max<std::size_t>(1, count / SAMPLE_ROWS);
        std::vector<std::size_t> sample;
        for (std::size_t i = 0; i < count; i += stride)
            sample.push_back(i);
        const auto farthest_sampled = [&](const double* from, std::size_t fallback) {
            std::pair<std::size_t, double> best{fallback, 0.0};
            for (const std::size_t i : sample) {
                const double d = squared_distance(rows + i * dims_, from, dims_);
                if (d > best.second) best = {i, d};
            }
            return best.first;
        };
        const std::size_t a = farthest_sampled(centroid, 0);
        const std::size_t b = farthest_sampled(rows + a * dims_, a);
        std::vector<double> centre_a(rows + a * dims_, rows + (a + 1) * dims_);
        std::vector<double> centre_b(rows + b * dims_, rows + (b + 1) * dims_);
        const auto nearer_b = [&](std::size_t i) {
            const double* row = rows + i * dims_;
            return squared_distance(row, centre_b.data(), dims_) <
                   squared_distance(row, centre_a.data(), dims_);
        };
        std::vector<unsigned char> side(sample.size(), 0);
        for (std::size_t round = 0; round < TWO_MEANS_ROUNDS && a != b; ++round) {
            std::size_t near_b = 0;
            for (std::size_t s = 0; s < sample.size(); ++s) {
                side[s] = nearer_b(sample[s]) ? 1 : 0;
                near_b += side[s];
            }
            if (near_b == 0 || near_b == sample.size()) break;
            centre_of(rows, sample, side, 0, centre_a);
            centre_of(rows, sample, side, 1, centre_b);
        }
        const std::span<KeyedRow> keyed = scratch_.keyed_range(start, count);
        std::size_t near_b = 0;
        if (a != b) {
            for (std::size_t i = 0; i < count; ++i)
                near_b += nearer_b(i) ? 1 : 0;
        }
        std::size_t mid = count - near_b;
        const std::size_t smaller = std::min(near_b, count - near_b);
        if (smaller == 0 || (smaller < count / 8 && !uneven_allowed)) {
            // Median of the projection on the starting rows (0 for all when they coincide).
            const double* ra = rows + a * dims_;
            const double* rb = rows + b * dims_;
            for (std::size_t i = 0; i < count; ++i) {
                double key = 0.0;
                for (std::size_t c = 0; c < dims_; ++c)
                    key += (rows[i * dims_ + c] - ra[c]) * (rb[c] - ra[c]);
                keyed[i] = {key, i};
            }
            mid = count / 2;
            select_median(keyed, mid, context_);
        } else {
            std::size_t front = 0;
            std::size_t back = mid;
            for (std::size_t i = 0; i < count; ++i)
                keyed[nearer_b(i) ? back++ : front++] = {0.0, i};
        }
        reorder_rows(keyed, tree_.tree_data, tree_.indices, dims_, start, scratch_, context_,
                     [](std::size_t, const double*) {});
        return mid;
    }

    void centre_of(const double* rows, const std::vector<std::size_t>& sample,
                   const std::vector<unsigned char>& side, unsigned char s,
                   std::vector<double>& centre) const {
        std::fill(centre.begin(), centre.end(), 0.0);
        std::size_t members = 0;
        for (std::size_t t = 0; t < sample.size(); ++t) {
            if (side[t] != s) continue;
            ++members;
            for (std::size_t c = 0; c < dims_; ++c)
                centre[c] += rows[sample[t] * dims_ + c];
        }
        for (double& v : centre)
            v /= static_cast<double>(members);
    }

    BlockTree& tree_;
    std::size_t dims_;
    PartitionScratch& scratch_;
    const ExecutionContext& context_;
};

}  // namespace

BlockTree BlockTree::build(const DataMatrix& matrix, const ExecutionContext& context) {
    if (matrix.rows == 0 || matrix.cols == 0) {
        fail_internal("BlockTree::build needs rows and columns");
    }
    BlockTree tree;
    tree.dims = matrix.cols;
    tree.n_points = matrix.rows;
    tree.tree_data = matrix.values;
    tree.indices.resize(matrix.rows);
    std::iota(tree.indices.begin(), tree.indices.end(), std::size_t{0});
    {
        PartitionScratch scratch(matrix.rows, matrix.cols);
        BlockBuilder::Subtree all;
        BlockBuilder(tree, scratch, context).build(0, matrix.rows, 0, all, context.threads());
        tree.nodes = std::move(all.nodes);
        tree.centroids = std::move(all.centroids);
    }
    tree.block_of_node.assign(tree.nodes.size(), NO_BLOCK);
    for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
        if (!tree.nodes[node].is_leaf) continue;
        tree.block_of_node[node] = tree.block_node.size();
        tree.block_node.push_back(node);
        tree.block_start.push_back(tree.nodes[node].start);
    }
    tree.screen = GramScreen::build(tree.tree_data, tree.dims, tree.block_start);
    const double dims = static_cast<double>(tree.dims);
    tree.relative_slack = 2.0 * (dims + 8.0) * std::numeric_limits<double>::epsilon();
    tree.absolute_slack = std::ldexp(4.0 * std::sqrt(dims + 1.0), -537);
    return tree;
}

namespace {

double floor_of(double centres, double radii, double relative_slack, double absolute_slack) {
    const double floor = (centres - radii) - ((centres + radii) * relative_slack + absolute_slack);
    return floor > 0.0 ? floor : (std::isnan(floor) ? floor : 0.0);
}

}  // namespace

double BlockTree::distance_floor(std::size_t a, std::size_t b) const {
    const double centres = std::sqrt(squared_distance(centroid(a), centroid(b), dims));
    return floor_of(centres, nodes[a].radius + nodes[b].radius, relative_slack, absolute_slack);
}

double BlockTree::distance_floor(std::size_t a, const double* point) const {
    double floor = 0.0;
    distance_floors(a, point, 1, &floor);
    return floor;
}

void BlockTree::distance_floors(std::size_t a, const double* points, std::size_t count,
                                double* floor) const {
    unordered_squared_distances(points, count, dims, centroid(a), floor);
    for (std::size_t i = 0; i < count; ++i)
        floor[i] = floor_of(std::sqrt(floor[i]), nodes[a].radius, relative_slack, absolute_slack);
}

}  // namespace corvane
