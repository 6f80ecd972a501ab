#include "core_distance/group_core_distances.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/dispatch.hpp"
#include "core_distance/space_core_distances.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/depth_first.hpp"
#include "tree_common/fixed_dims.hpp"

namespace corvane {
namespace {

// Doubles per AVX-512 register: the lanes are handled in chunks of this many rows, one
// vector each (two or four registers on narrower machines).
constexpr std::size_t CHUNK = 8;
constexpr std::size_t MAX_CHUNKS = (GROUP_QUERY_ROWS + CHUNK - 1) / CHUNK;
constexpr std::size_t MAX_LANES = MAX_CHUNKS * CHUNK;

typedef double Chunk __attribute__((vector_size(CHUNK * sizeof(double))));
typedef std::int64_t ChunkMask __attribute__((vector_size(CHUNK * sizeof(double))));

// A lane's limit while its heap is not full: every comparison with NaN is false, so
// "not (value >= limit)" admits every row and every node. A lane without a row has limit
// -infinity and admits nothing.
constexpr double OPEN = std::numeric_limits<double>::quiet_NaN();
constexpr double CLOSED = -std::numeric_limits<double>::infinity();

// The rows of one query group, one lane each: lane c * CHUNK + l is element l of chunk c.
template <std::size_t Dims>
struct GroupLanes {
    Chunk point[Dims][MAX_CHUNKS];  // the rows' values, a column at a time
    Chunk limit[MAX_CHUNKS];        // the worst distance kept in each lane's full heap
    double centre[Dims];            // middle of the group's box: which child is near
    std::size_t chunks = 0;
    std::size_t start = 0;  // tree positions of the group's rows
    std::size_t end = 0;
};

[[gnu::always_inline]] inline bool any_lane(const ChunkMask& mask) {
    ChunkMask folded = mask | __builtin_shufflevector(mask, mask, 4, 5, 6, 7, 0, 1, 2, 3);
    folded |= __builtin_shufflevector(folded, folded, 2, 3, 0, 1, 6, 7, 4, 5);
    folded |= __builtin_shufflevector(folded, folded, 1, 0, 3, 2, 5, 4, 7, 6);
    return folded[0] != 0;
}

// Whether a lane's `value` is below its limit (or the limit is open).
[[gnu::always_inline]] inline bool any_admitted(const Chunk& value, const Chunk& limit) {
    return any_lane(~(value >= limit));
}

// The squared distances between `row` and the lanes of chunk c, each in the summation
// order of lane_sum_of_squares (squared_distance.hpp): column j into running sum j % 4,
// the sums combined as (0 + 1) + (2 + 3); every lane does what squared_distance does.
template <std::size_t Dims>
[[gnu::always_inline]] inline void chunk_distances(const double* row,
                                                   const GroupLanes<Dims>& lanes, std::size_t c,
                                                   Chunk& out) {
    Chunk sums[4] = {};
#pragma GCC unroll 16
    for (std::size_t j = 0; j < Dims; ++j) {
        const Chunk t = row[j] - lanes.point[j][c];
        sums[j % 4] += t * t;
    }
    out = (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

// Whether any lane has something to gain below `node`: its box bound, computed per lane as
// KdTree::min_rdist_point computes it (and so never above the computed distance of a row
// of the node), is below the lane's limit.
template <std::size_t Dims>
[[gnu::always_inline]] inline bool any_lane_open(const KdTree& tree, std::size_t node,
                                                 const GroupLanes<Dims>& lanes) {
    const double* lo = tree.lower_bounds.data() + node * Dims;
    const double* hi = tree.upper_bounds.data() + node * Dims;
    const Chunk zero = {};
    for (std::size_t c = 0; c < lanes.chunks; ++c) {
        Chunk sums[4] = {};
#pragma GCC unroll 16
        for (std::size_t j = 0; j < Dims; ++j) {
            const Chunk p = lanes.point[j][c];
            const Chunk below = lo[j] - p;
            const Chunk above = p - hi[j];
            // std::max(std::max(below, above), 0.0), lane by lane.
            const Chunk larger = below < above ? above : below;
            const Chunk gap = larger < zero ? zero : larger;
            sums[j % 4] += gap * gap;
        }
        const Chunk bound = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        if (any_admitted(bound, lanes.limit[c])) return true;
    }
    return false;
}

// Offers the tree positions [start, end) to every lane they improve.
template <std::size_t Dims>
[[gnu::always_inline]] inline void offer_rows(const KdTree& tree, std::size_t start,
                                              std::size_t end, GroupLanes<Dims>& lanes,
                                              KnnHeap* heaps) {
    const double* row = tree.tree_data.data() + start * Dims;
    for (std::size_t i = start; i < end; ++i, row += Dims) {
        for (std::size_t c = 0; c < lanes.chunks; ++c) {
            Chunk distances;
            chunk_distances(row, lanes, c, distances);
            if (!any_admitted(distances, lanes.limit[c])) continue;
            for (std::size_t l = 0; l < CHUNK; ++l) {
                if (distances[l] >= lanes.limit[c][l]) continue;
                KnnHeap& heap = heaps[c * CHUNK + l];
                heap.push(tree.indices[i], distances[l]);
                if (heap.is_full()) lanes.limit[c][l] = heap.max_distance();
            }
        }
    }
}

// The walk of one group: its own rows first, then the rest of the tree depth first, the
// child on the group's side of a split before the other.
template <std::size_t Dims>
CORVANE_DISPATCH void search_group(const KdTree& tree, GroupLanes<Dims>& lanes, KnnHeap* heaps) {
    offer_rows(tree, lanes.start, lanes.end, lanes, heaps);
    // Pushing both children of each node taken up keeps at most one pending node a level.
    std::size_t pending[MAX_TREE_DEPTH + 1];
    std::size_t top = 0;
    pending[top++] = 0;
    while (top != 0) {
        const std::size_t node = pending[--top];
        const KdNode& record = tree.nodes[node];
        if (record.start >= lanes.start && record.end <= lanes.end) continue;
        if (!any_lane_open(tree, node, lanes)) continue;
        if (record.is_leaf) {
            offer_rows(tree, record.start, record.end, lanes, heaps);
            continue;
        }
        const bool left_near = lanes.centre[record.split_dim] <= record.split_value;
        pending[top++] = left_near ? record.right : record.left;
        pending[top++] = left_near ? record.left : record.right;
    }
}

// The groups: the largest subtrees of at most GROUP_QUERY_ROWS rows (or leaves), in tree
// order.
std::vector<std::size_t> query_groups(const KdTree& tree) {
    std::vector<std::size_t> groups;
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
        const std::size_t node = pending.back();
        pending.pop_back();
        const KdNode& record = tree.nodes[node];
        if (record.is_leaf || record.count <= GROUP_QUERY_ROWS) {
            groups.push_back(node);
        } else {
            pending.push_back(record.right);
            pending.push_back(record.left);
        }
    }
    return groups;
}

template <std::size_t Dims>
void search_groups(const KdTree& tree, std::size_t k, const std::vector<std::size_t>& groups,
                   CoreDistanceResult& result, const ExecutionContext& context) {
    // Groups per task: several per worker, taken in turn, so that dense and sparse regions
    // even out.
    constexpr std::size_t PIECES_PER_WORKER = 16;
    const std::size_t workers = tree.n_points >= PARALLEL_MIN_ROWS ? context.threads() : 1;
    const std::size_t count = groups.size();
    const std::size_t piece = std::max<std::size_t>(
        1, (count + PIECES_PER_WORKER * workers - 1) / (PIECES_PER_WORKER * workers));
    run_task_queue(context, workers, (count + piece - 1) / piece, [&](std::size_t, std::size_t t) {
        GroupLanes<Dims> lanes;
        std::vector<KnnHeap> heaps(MAX_LANES, KnnHeap(k));
        for (std::size_t g = t * piece; g < std::min(count, (t + 1) * piece); ++g) {
            context.check_every(g, 16);
            const KdNode& group = tree.nodes[groups[g]];
            lanes.start = group.start;
            lanes.end = group.end;
            lanes.chunks = (group.count + CHUNK - 1) / CHUNK;
            for (std::size_t j = 0; j < Dims; ++j) {
                const double lo = tree.lower_bounds[groups[g] * Dims + j];
                const double hi = tree.upper_bounds[groups[g] * Dims + j];
                lanes.centre[j] = lo + (hi - lo) / 2;
            }
            for (std::size_t l = 0; l < lanes.chunks * CHUNK; ++l) {
                // A lane without a row repeats the group's first row and takes nothing.
                const std::size_t position = l < group.count ? group.start + l : group.start;
                for (std::size_t j = 0; j < Dims; ++j)
                    lanes.point[j][l / CHUNK][l % CHUNK] = tree.tree_data[position * Dims + j];
                lanes.limit[l / CHUNK][l % CHUNK] = l < group.count ? OPEN : CLOSED;
                heaps[l].clear();
            }
            search_group(tree, lanes, heaps.data());
            for (std::size_t l = 0; l < group.count; ++l) {
                record_heap(heaps[l], tree.indices[group.start + l],
                            std::sqrt(heaps[l].max_distance()), result);
            }
        }
    });
}

}  // namespace

CoreDistanceResult kd_group_core_distances(const KdTree& tree, std::size_t k, bool keep_neighbors,
                                           const ExecutionContext& context) {
    const std::size_t dims = tree.dims;
    if (dims == 0 || dims > KdTree::UNROLLED_DIMS) {
        return space_core_distances(tree, SquaredEuclideanSpace{}, k, keep_neighbors, context);
    }
    const std::size_t n = tree.n_points;
    if (n == 0) return {};
    CoreDistanceResult result = start_core_result(n, k, keep_neighbors, "kd_group_core_distances");
    const std::vector<std::size_t> groups = query_groups(tree);
    with_fixed_dims<KdTree::UNROLLED_DIMS>(dims, [&](auto fixed) {
        constexpr std::size_t Dims = decltype(fixed)::value;
        if constexpr (Dims != DYNAMIC_DIMS) search_groups<Dims>(tree, k, groups, result, context);
    });
    return result;
}

}  // namespace corvane
