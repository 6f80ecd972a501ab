#include "core_distance/group_core_distances.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "common/dispatch.hpp"
#include "common/internal_error.hpp"
#include "core_distance/space_core_distances.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/depth_first.hpp"
#include "tree_common/fixed_dims.hpp"

namespace corvane {
namespace {

// Rows per walk: the doubles of one AVX-512 register. Measured at 250 000 standard-normal
// rows: 16 or 24 rows a walk search a larger union of nodes and lose 10 % at 5 columns; 4
// lose 25 % at 2.
constexpr std::size_t LANES = 8;

// The lane loops run on vectors of W doubles, the machine's own width (see walk_tree):
// comparisons of vectors wider than the machine's fall apart into single lanes.
template <std::size_t W>
struct Vectors {
    typedef double Part __attribute__((vector_size(W * sizeof(double))));
    static constexpr std::size_t PARTS = LANES / W;

    // Out-parameters rather than return values: a function returning a vector of another
    // width than the baseline's registers would change the ABI.
    [[gnu::always_inline]] static void load(const double* from, Part& part) {
        std::memcpy(&part, from, sizeof(Part));
    }
    [[gnu::always_inline]] static void store(const Part& part, double* to) {
        std::memcpy(to, &part, sizeof(Part));
    }
};

// A lane's limit while its heap is not full: every comparison with NaN is false, so
// "not (value >= limit)" admits every row and every node. A lane without a row has limit
// -infinity and admits nothing.
constexpr double OPEN = std::numeric_limits<double>::quiet_NaN();
constexpr double CLOSED = -std::numeric_limits<double>::infinity();

// The rows of one walk, one lane each.
template <std::size_t Dims>
struct Walk {
    alignas(64) double point[Dims][LANES];  // the rows' values, a column at a time
    alignas(64) double limit[LANES];        // the worst distance kept in a lane's full heap
    // The least distance a lane turned away or dropped: rows rejected or pushed out, and
    // the box bounds of nodes skipped. Another row may lie at the final k-th distance only
    // when this reaches it (see search_groups).
    alignas(64) double turned_away[LANES];
    double centre[Dims];  // middle of the rows' box: which child of a split is near
    // The tree positions of the group the rows belong to: offered first, then skipped.
    std::size_t group_start = 0;
    std::size_t group_end = 0;
};

// The lanes (bit l for lane l) whose `value` is below their limit or whose limit is open.
// Written lane by lane: the vectoriser compares at the machine's own width.
[[gnu::always_inline]] inline unsigned admitted_lanes(const double* value, const double* limit) {
    unsigned admitted = 0;
    for (std::size_t l = 0; l < LANES; ++l)
        admitted |= static_cast<unsigned>(!(value[l] >= limit[l])) << l;
    return admitted;
}

// Per lane, the sum over the columns j of term(j, the lanes' values in column j) squared,
// in the summation order of lane_sum_of_squares (squared_distance.hpp): column j into
// running sum j % 4, the sums combined as (0 + 1) + (2 + 3). `term` writes its vector into
// its third argument.
template <std::size_t Dims, std::size_t W, class Term>
[[gnu::always_inline]] inline void lane_sums_of_squares(const Walk<Dims>& walk, double* out,
                                                        const Term& term) {
    using V = Vectors<W>;
#pragma GCC unroll 8
    for (std::size_t p = 0; p < V::PARTS; ++p) {
        typename V::Part sums[4] = {};
#pragma GCC unroll 16
        for (std::size_t j = 0; j < Dims; ++j) {
            typename V::Part point;
            V::load(walk.point[j] + p * W, point);
            typename V::Part t;
            term(j, point, t);
            sums[j % 4] += t * t;
        }
        V::store((sums[0] + sums[1]) + (sums[2] + sums[3]), out + p * W);
    }
}

// The squared distances between `row` and every lane: every lane does what
// squared_distance does.
template <std::size_t Dims, std::size_t W>
[[gnu::always_inline]] inline void lane_distances(const double* row, const Walk<Dims>& walk,
                                                  double* out) {
    using Part = typename Vectors<W>::Part;
    lane_sums_of_squares<Dims, W>(
        walk, out, [row](std::size_t j, const Part& point, Part& t) { t = row[j] - point; });
}

// The box bound of `node` in every lane, computed per lane as KdTree::min_rdist_point
// computes it, and so never above the computed distance of a row of the node.
template <std::size_t Dims, std::size_t W>
[[gnu::always_inline]] inline void lane_bounds(const KdTree& tree, std::size_t node,
                                               const Walk<Dims>& walk, double* out) {
    using Part = typename Vectors<W>::Part;
    const double* lo = tree.lower_bounds.data() + node * Dims;
    const double* hi = tree.upper_bounds.data() + node * Dims;
    lane_sums_of_squares<Dims, W>(walk, out, [lo, hi](std::size_t j, const Part& point, Part& gap) {
        const Part below = lo[j] - point;
        const Part above = point - hi[j];
        const Part zero = {};
        // std::max(std::max(below, above), 0.0), lane by lane.
        const Part larger = below < above ? above : below;
        gap = larger < zero ? zero : larger;
    });
}

// Takes `value` into the least turned-away distance of the lanes whose limit it reaches.
template <std::size_t W>
[[gnu::always_inline]] inline void note_turned_away(const double* value, const double* limit,
                                                    double* turned_away) {
    using V = Vectors<W>;
    typename V::Part none = {};
    none += std::numeric_limits<double>::infinity();
#pragma GCC unroll 8
    for (std::size_t p = 0; p < V::PARTS; ++p) {
        typename V::Part v;
        typename V::Part least;
        typename V::Part bar;
        V::load(value + p * W, v);
        V::load(turned_away + p * W, least);
        V::load(limit + p * W, bar);
        const typename V::Part turned = v >= bar ? v : none;
        V::store(turned < least ? turned : least, turned_away + p * W);
    }
}

// Rows measured at once before any of them is pushed (a leaf has at most 20).
constexpr std::size_t ROW_BLOCK = 32;

// Offers the tree positions [start, end) to every lane they improve. The distances of a
// block of rows are measured first and the rows some lane admits at the limits of that
// moment are listed without branches; limits only fall, so those are the only rows that
// can still gain, each checked again at its push.
template <std::size_t Dims, std::size_t W>
[[gnu::always_inline]] inline void offer_rows(const KdTree& tree, std::size_t start,
                                              std::size_t end, Walk<Dims>& walk, KnnHeap* heaps) {
    alignas(64) double distances[ROW_BLOCK][LANES];
    unsigned admitted[ROW_BLOCK];
    std::size_t gaining[ROW_BLOCK];
    for (std::size_t block = start; block < end; block += ROW_BLOCK) {
        const std::size_t rows = std::min(ROW_BLOCK, end - block);
        const double* first_row = tree.tree_data.data() + block * Dims;
        std::size_t count = 0;
        // Locals, so that the loop keeps them in registers.
        alignas(64) double limit[LANES];
        alignas(64) double turned_away[LANES];
        std::memcpy(limit, walk.limit, sizeof(limit));
        std::memcpy(turned_away, walk.turned_away, sizeof(turned_away));
        for (std::size_t r = 0; r < rows; ++r) {
            lane_distances<Dims, W>(first_row + r * Dims, walk, distances[r]);
            admitted[r] = admitted_lanes(distances[r], limit);
            note_turned_away<W>(distances[r], limit, turned_away);
            gaining[count] = r;
            count += admitted[r] != 0;
        }
        std::memcpy(walk.turned_away, turned_away, sizeof(turned_away));
        for (std::size_t g = 0; g < count; ++g) {
            const std::size_t r = gaining[g];
            for (unsigned bits = admitted[r]; bits != 0; bits &= bits - 1) {
                const unsigned l = static_cast<unsigned>(__builtin_ctz(bits));
                const double distance = distances[r][l];
                KnnHeap& heap = heaps[l];
                // The row itself, or the heap's worst entry it pushes out.
                const double dropped = distance >= walk.limit[l] ? distance
                                       : heap.is_full()          ? heap.max_distance()
                                                                 : walk.turned_away[l];
                walk.turned_away[l] = std::min(walk.turned_away[l], dropped);
                if (distance >= walk.limit[l]) continue;
                heap.push(tree.indices[block + r], distance);
                if (heap.is_full()) walk.limit[l] = heap.max_distance();
            }
        }
    }
}

// One walk: the group's rows first, then the rest of the tree depth first, the child on
// the rows' side of a split before the other.
template <std::size_t Dims, std::size_t W>
[[gnu::always_inline]] inline void walk_tree(const KdTree& tree, Walk<Dims>& walk, KnnHeap* heaps) {
    offer_rows<Dims, W>(tree, walk.group_start, walk.group_end, walk, heaps);
    // Pushing both children of each node taken up keeps at most one pending node a level.
    std::size_t pending[MAX_TREE_DEPTH + 1];
    std::size_t top = 0;
    pending[top++] = 0;
    while (top != 0) {
        const std::size_t node = pending[--top];
        const KdNode& record = tree.nodes[node];
        if (record.start >= walk.group_start && record.end <= walk.group_end) continue;
        alignas(64) double bound[LANES];
        lane_bounds<Dims, W>(tree, node, walk, bound);
        if (admitted_lanes(bound, walk.limit) == 0) {
            note_turned_away<W>(bound, walk.limit, walk.turned_away);
            continue;
        }
        if (record.is_leaf) {
            offer_rows<Dims, W>(tree, record.start, record.end, walk, heaps);
            continue;
        }
        const bool left_near = walk.centre[record.split_dim] <= record.split_value;
        pending[top++] = left_near ? record.right : record.left;
        pending[top++] = left_near ? record.left : record.right;
    }
}

template <std::size_t Dims>
using WalkFunction = void (*)(const KdTree&, Walk<Dims>&, KnnHeap*);

// The walk compiled for each instruction-set level, each on vectors of its own width.
#if CORVANE_VERSIONS
template <std::size_t Dims>
__attribute__((target("arch=x86-64-v4"))) void walk_v4(const KdTree& tree, Walk<Dims>& walk,
                                                       KnnHeap* heaps) {
    walk_tree<Dims, 8>(tree, walk, heaps);
}

template <std::size_t Dims>
__attribute__((target("arch=x86-64-v3"))) void walk_v3(const KdTree& tree, Walk<Dims>& walk,
                                                       KnnHeap* heaps) {
    walk_tree<Dims, 4>(tree, walk, heaps);
}
#endif

template <std::size_t Dims>
void walk_baseline(const KdTree& tree, Walk<Dims>& walk, KnnHeap* heaps) {
    walk_tree<Dims, 2>(tree, walk, heaps);
}

// Every copy of the walk the machine can run, the portable one first, the best last.
template <std::size_t Dims>
std::vector<WalkFunction<Dims>> machine_walks() {
    std::vector<WalkFunction<Dims>> walks = {walk_baseline<Dims>};
#if CORVANE_VERSIONS
    walks.push_back(walk_v3<Dims>);
    walks.push_back(walk_v4<Dims>);
#endif
    walks.resize(machine_levels());
    return walks;
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

// The positions of the group's rows in the order of their values in the group box's
// widest column (ties by position), so that consecutive runs are compact.
template <std::size_t Dims>
void order_group_rows(const KdTree& tree, std::size_t node, std::vector<std::size_t>& order) {
    const double* lo = tree.lower_bounds.data() + node * Dims;
    const double* hi = tree.upper_bounds.data() + node * Dims;
    std::size_t widest = 0;
    for (std::size_t j = 1; j < Dims; ++j) {
        if (hi[j] - lo[j] > hi[widest] - lo[widest]) widest = j;
    }
    const KdNode& group = tree.nodes[node];
    order.resize(group.count);
    for (std::size_t i = 0; i < group.count; ++i)
        order[i] = group.start + i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double value_a = tree.tree_data[a * Dims + widest];
        const double value_b = tree.tree_data[b * Dims + widest];
        return value_a < value_b || (value_a == value_b && a < b);
    });
}

// Loads the rows at positions[0, rows) into the lanes of `walk`, with open limits, and
// their box's centre; the other lanes repeat the first row and are closed.
template <std::size_t Dims>
void load_walk(const KdTree& tree, const std::size_t* positions, std::size_t rows,
               Walk<Dims>& walk) {
    for (std::size_t j = 0; j < Dims; ++j) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (std::size_t l = 0; l < LANES; ++l) {
            const double value = tree.tree_data[positions[l < rows ? l : 0] * Dims + j];
            walk.point[j][l] = value;
            lo = std::min(lo, value);
            hi = std::max(hi, value);
        }
        walk.centre[j] = lo + (hi - lo) / 2;
    }
    for (std::size_t l = 0; l < LANES; ++l) {
        walk.limit[l] = l < rows ? OPEN : CLOSED;
        walk.turned_away[l] = std::numeric_limits<double>::infinity();
    }
}

template <std::size_t Dims>
void search_groups(const KdTree& tree, std::size_t k, const std::vector<std::size_t>& groups,
                   std::size_t level, CoreDistanceResult& result, const ExecutionContext& context) {
    // Groups per task: several tasks per worker, taken in turn, so that dense and sparse
    // regions even out.
    constexpr std::size_t PIECES_PER_WORKER = 16;
    const std::size_t workers = tree.n_points >= PARALLEL_MIN_ROWS ? context.threads() : 1;
    const std::size_t count = groups.size();
    const std::size_t piece = std::max<std::size_t>(
        1, (count + PIECES_PER_WORKER * workers - 1) / (PIECES_PER_WORKER * workers));
    run_task_queue(context, workers, (count + piece - 1) / piece, [&](std::size_t, std::size_t t) {
        const SquaredEuclideanSpace space;
        const WalkFunction<Dims> walk_on_machine = machine_walks<Dims>()[level];
        Walk<Dims> walk;
        std::vector<KnnHeap> heaps(LANES, KnnHeap(k));
        std::vector<std::size_t> order;
        for (std::size_t g = t * piece; g < std::min(count, (t + 1) * piece); ++g) {
            context.check_every(g, 16);
            const KdNode& group = tree.nodes[groups[g]];
            walk.group_start = group.start;
            walk.group_end = group.end;
            // The group's rows walk in runs of at most LANES, as even as can be.
            order_group_rows<Dims>(tree, groups[g], order);
            const std::size_t walks = (group.count + LANES - 1) / LANES;
            for (std::size_t w = 0; w < walks; ++w) {
                const std::size_t first = w * group.count / walks;
                const std::size_t rows = (w + 1) * group.count / walks - first;
                load_walk(tree, order.data() + first, rows, walk);
                for (KnnHeap& heap : heaps)
                    heap.clear();
                walk_on_machine(tree, walk, heaps.data());
                for (std::size_t l = 0; l < rows; ++l) {
                    // Every row a lane neither kept nor turned away lies beyond its final
                    // k-th distance. So unless a turned-away distance reaches it, the k
                    // nearest rows are the only ones at or below it, and the heap holds what
                    // the one-row search would hold, in another array order. Otherwise the
                    // rows at exactly that distance are ties, and which of them the lists
                    // name follows the order of offering: the row is searched again by
                    // itself so that its list is the one-row search's.
                    const std::size_t position = order[first + l];
                    if (walk.turned_away[l] <= heaps[l].max_distance()) {
                        heaps[l].clear();
                        search_knn_unchecked(tree, space, space.query_at(tree, position), heaps[l]);
                    }
                    record_heap(heaps[l], tree.indices[position],
                                std::sqrt(heaps[l].max_distance()), result);
                }
            }
        }
    });
}

}  // namespace

std::size_t group_walk_levels() {
    return machine_walks<1>().size();
}

CoreDistanceResult kd_group_core_distances_at_level(const KdTree& tree, std::size_t k,
                                                    bool keep_neighbors,
                                                    const ExecutionContext& context,
                                                    std::size_t level) {
    if (level >= group_walk_levels()) fail_internal("kd_group_core_distances: no such level");
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
        if constexpr (Dims != DYNAMIC_DIMS) {
            search_groups<Dims>(tree, k, groups, level, result, context);
        }
    });
    return result;
}

CoreDistanceResult kd_group_core_distances(const KdTree& tree, std::size_t k, bool keep_neighbors,
                                           const ExecutionContext& context) {
    static const std::size_t best = group_walk_levels() - 1;
    return kd_group_core_distances_at_level(tree, k, keep_neighbors, context, best);
}

}  // namespace corvane
