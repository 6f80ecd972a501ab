#include "core_distance/group_core_distances.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "common/dispatch.hpp"
#include "common/internal_error.hpp"
#include "core_distance/space_core_distances.hpp"
#include "kdtree_bounded/kd_tree_bounds.hpp"
#include "knn_heap/sorted_knn_list.hpp"
#include "search_space/search_space.hpp"
#include "tree_common/depth_first.hpp"
#include "tree_common/fixed_dims.hpp"
#include "tree_common/input_order.hpp"

#if CORVANE_VERSIONS
#include <immintrin.h>
#endif

// The walk's helpers take and return 64-byte vectors; they are always inlined, so no call
// passes one across an ABI.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace corvane {
namespace {

// A lane's limit while its list is not full: every comparison with NaN is false, so
// "not (value >= limit)" admits every row and every node. A lane without a row has limit
// -infinity and admits nothing.
constexpr double OPEN = std::numeric_limits<double>::quiet_NaN();
constexpr double CLOSED = -std::numeric_limits<double>::infinity();

// Rows measured at once before any of them is pushed (a leaf has at most 20).
constexpr std::size_t ROW_BLOCK = 32;

// The rows of one walk, one lane each. Its lists name tree positions.
template <std::size_t Dims, std::size_t Lanes>
struct Walk {
    alignas(64) double point[Dims][Lanes];  // the rows' values, a column at a time
    alignas(64) double limit[Lanes];        // the worst distance kept in a lane's full list
    // The least distance a lane turned away at exactly its limit or dropped from its full
    // list: rows rejected or pushed out, and the box bounds of nodes skipped. Anything the
    // lane turns away is at least its limit, and the final k-th distance at most, so
    // another row may lie at that distance only when this reaches it (see search_groups).
    alignas(64) double turned_away[Lanes];
    double centre[Dims];  // middle of the rows' box: which child of a split is near
    // The tree positions of the group the rows belong to: offered first, then skipped.
    std::size_t group_start = 0;
    std::size_t group_end = 0;
};

}  // namespace

// Rows per walk, measured on 250 000 standard-normal rows. With AVX-512, 8 (one register):
// 16 or 24 rows a walk search a larger union of nodes and lose 10 % at 5 columns, and 4
// lose 25 % at 2. With AVX2, 4 rows (one register) in 5 to 7 columns, where 8 rows search
// a larger union and lose 8 to 14 %, and 8 rows (two registers) otherwise, where 4 rows
// lose 10 % to the cost of each node and row.
#if CORVANE_VERSIONS
#pragma GCC push_options
#pragma GCC target("arch=x86-64-v4")
namespace group_walk_v4 {
inline constexpr std::size_t W = 8;
template <std::size_t Dims>
inline constexpr std::size_t LANES = 8;
template <class Flags>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Flags flags) {
    return static_cast<std::uint64_t>(_mm512_movepi64_mask(reinterpret_cast<__m512i>(flags)));
}
#include "core_distance/group_walk_kernel.hpp"
}  // namespace group_walk_v4
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("arch=x86-64-v3")
namespace group_walk_v3 {
inline constexpr std::size_t W = 4;
template <std::size_t Dims>
inline constexpr std::size_t LANES = Dims >= 5 && Dims <= 7 ? 4 : 8;
template <class Flags>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Flags flags) {
    return static_cast<std::uint64_t>(_mm256_movemask_pd(reinterpret_cast<__m256d>(flags)));
}
#include "core_distance/group_walk_kernel.hpp"
}  // namespace group_walk_v3
#pragma GCC pop_options
#endif

// The portable copy: two lanes (one SSE2 register on x86-64), bits gathered lane by lane.
namespace group_walk_baseline {
inline constexpr std::size_t W = 2;
template <std::size_t Dims>
inline constexpr std::size_t LANES = 8;
template <class Flags>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Flags flags) {
    return static_cast<std::uint64_t>(flags[0] & 1) | static_cast<std::uint64_t>(flags[1] & 1) << 1;
}
#include "core_distance/group_walk_kernel.hpp"
}  // namespace group_walk_baseline

namespace {

template <std::size_t Dims, std::size_t Lanes>
using WalkFunction = void (*)(const KdTree&, Walk<Dims, Lanes>&, SortedKnnList*);

// Calls body(walk) with copy `level` of the walk: 0 the portable one, then x86-64-v3 and
// x86-64-v4.
template <std::size_t Dims, class Body>
void with_walk_at_level(std::size_t level, const Body& body) {
#if CORVANE_VERSIONS
    if (level == 2) return body(group_walk_v4::walk_tree<Dims>);
    if (level == 1) return body(group_walk_v3::walk_tree<Dims>);
#endif
    body(group_walk_baseline::walk_tree<Dims>);
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
template <std::size_t Dims, std::size_t Lanes>
void load_walk(const KdTree& tree, const std::size_t* positions, std::size_t rows,
               Walk<Dims, Lanes>& walk) {
    for (std::size_t j = 0; j < Dims; ++j) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (std::size_t l = 0; l < Lanes; ++l) {
            const double value = tree.tree_data[positions[l < rows ? l : 0] * Dims + j];
            walk.point[j][l] = value;
            lo = std::min(lo, value);
            hi = std::max(hi, value);
        }
        walk.centre[j] = lo + (hi - lo) / 2;
    }
    for (std::size_t l = 0; l < Lanes; ++l) {
        walk.limit[l] = l < rows ? OPEN : CLOSED;
        walk.turned_away[l] = std::numeric_limits<double>::infinity();
    }
}

// Where a row's results go: its core distance at its input row, its neighbour list (when
// kept) by input row or by tree position, as `position_of` (the position of every input
// row) is empty or not. A list holds the entries write_neighbour_list would write, in
// ascending distance, ties by input row: the order in which a walk offers rows, and
// whether a row is searched again alone, depend on the rows sharing its walk, and so on
// the copy of the walk; the written order does not. `ordered` is the caller's room for the
// sorted entries.
struct Recorder {
    const KdTree& tree;
    std::vector<NeighbourRow> position_of;
    CoreDistanceResult& result;

    // The row at `position`, from its k best `entries`, which name tree positions.
    void from_walk(std::span<const KnnEntry> entries, std::size_t k, std::size_t position,
                   double core_distance, std::vector<KnnEntry>& ordered) const {
        record(
            entries, k, position, core_distance, position,
            [&](std::size_t p) { return std::size_t{tree.indices[p]}; },
            [&](std::size_t p) { return position_of.empty() ? std::size_t{tree.indices[p]} : p; },
            ordered);
    }

    // The same from a one-row search, whose heap names input rows.
    void from_heap(const KnnHeap& heap, std::size_t position,
                   std::vector<KnnEntry>& ordered) const {
        record(
            heap.entries(), heap.k(), position, std::sqrt(heap.max_distance()),
            tree.indices[position], [](std::size_t r) { return r; },
            [&](std::size_t r) { return position_of.empty() ? r : std::size_t{position_of[r]}; },
            ordered);
    }

  private:
    // `self` is the row's own entry as `entries` name it; row_of(index) its input row and
    // name(index) its name in the list.
    template <class RowOf, class Name>
    void record(std::span<const KnnEntry> entries, std::size_t k, std::size_t position,
                double core_distance, std::size_t self, const RowOf& row_of, const Name& name,
                std::vector<KnnEntry>& ordered) const {
        const std::size_t row = tree.indices[position];
        result.core_distances[row] = core_distance;
        if (result.neighbors.empty()) return;
        NeighbourRow* out =
            result.neighbors.data() + (position_of.empty() ? row : position) * (k - 1);
        // A walk's list is in ascending distance, most often without ties: already in order.
        bool rising = true;
        for (std::size_t e = 1; e < entries.size(); ++e)
            rising &= entries[e - 1].distance < entries[e].distance;
        if (rising) {
            write_neighbour_list(entries, k, self, name, out);
            return;
        }
        ordered.clear();
        for_listed_entries(entries, k, self,
                           [&](const KnnEntry& entry) { ordered.push_back(entry); });
        std::sort(ordered.begin(), ordered.end(), [&](const KnnEntry& a, const KnnEntry& b) {
            return a.distance < b.distance ||
                   (a.distance == b.distance && row_of(a.index) < row_of(b.index));
        });
        write_neighbour_list(std::span<const KnnEntry>(ordered), k, self, name, out);
    }
};

template <std::size_t Dims, std::size_t Lanes>
void search_groups(const KdTree& tree, std::size_t k, const std::vector<std::size_t>& groups,
                   WalkFunction<Dims, Lanes> walk_on_machine, const Recorder& recorder,
                   const ExecutionContext& context) {
    // Groups per task: several tasks per worker, taken in turn, so that dense and sparse
    // regions even out.
    constexpr std::size_t PIECES_PER_WORKER = 16;
    const std::size_t workers = tree.n_points >= PARALLEL_MIN_ROWS ? context.threads() : 1;
    const std::size_t count = groups.size();
    const std::size_t piece = std::max<std::size_t>(
        1, (count + PIECES_PER_WORKER * workers - 1) / (PIECES_PER_WORKER * workers));
    run_task_queue(context, workers, (count + piece - 1) / piece, [&](std::size_t, std::size_t t) {
        const SquaredEuclideanSpace space;
        Walk<Dims, Lanes> walk;
        std::vector<SortedKnnList> lists(Lanes, SortedKnnList(k));
        KnnHeap alone(k);
        std::vector<KnnEntry> ordered;
        std::vector<std::size_t> order;
        for (std::size_t g = t * piece; g < std::min(count, (t + 1) * piece); ++g) {
            context.check_every(g, 16);
            const KdNode& group = tree.nodes[groups[g]];
            walk.group_start = group.start;
            walk.group_end = group.end;
            // The group's rows walk in runs of at most Lanes, as even as can be.
            order_group_rows<Dims>(tree, groups[g], order);
            const std::size_t walks = (group.count + Lanes - 1) / Lanes;
            for (std::size_t w = 0; w < walks; ++w) {
                const std::size_t first = w * group.count / walks;
                const std::size_t rows = (w + 1) * group.count / walks - first;
                load_walk(tree, order.data() + first, rows, walk);
                for (SortedKnnList& list : lists)
                    list.clear();
                walk_on_machine(tree, walk, lists.data());
                for (std::size_t l = 0; l < rows; ++l) {
                    // Every row a lane neither kept nor turned away lies beyond its final
                    // k-th distance. So unless a turned-away distance reaches it, the k
                    // nearest rows are the only ones at or below it, and the list holds what
                    // the one-row search would hold. Otherwise the rows at exactly that
                    // distance are ties, and which of them the lists name follows the order of
                    // offering: the row is searched again by itself so that its list names
                    // the rows the one-row search's names.
                    const std::size_t position = order[first + l];
                    if (walk.turned_away[l] <= lists[l].max_distance()) {
                        alone.clear();
                        search_knn_unchecked(tree, space, space.query_at(tree, position), alone);
                        recorder.from_heap(alone, position, ordered);
                    } else {
                        recorder.from_walk(lists[l].entries(), k, position,
                                           std::sqrt(lists[l].max_distance()), ordered);
                    }
                }
            }
        }
    });
}

}  // namespace

std::size_t group_walk_levels() {
    return machine_levels();
}

CoreDistanceResult kd_group_core_distances_at_level(const KdTree& tree, std::size_t k,
                                                    bool keep_neighbors,
                                                    const ExecutionContext& context,
                                                    std::size_t level, ListNaming naming) {
    if (level >= group_walk_levels()) fail_internal("kd_group_core_distances: no such level");
    const std::size_t dims = tree.dims;
    if (dims == 0 || dims > KdTree::UNROLLED_DIMS) {
        return space_core_distances(tree, SquaredEuclideanSpace{}, k, keep_neighbors, context);
    }
    const std::size_t n = tree.n_points;
    if (n == 0) return {};
    CoreDistanceResult result =
        start_core_result(n, k, keep_neighbors, "kd_group_core_distances", context);
    Recorder recorder{tree, {}, result};
    if (!result.neighbors.empty() && naming == ListNaming::tree_positions) {
        result.neighbor_naming = naming;
        recorder.position_of = input_row_positions<NeighbourRow>(tree, context);
    }
    const std::vector<std::size_t> groups = query_groups(tree);
    with_fixed_dims<KdTree::UNROLLED_DIMS>(dims, [&](auto fixed) {
        constexpr std::size_t Dims = decltype(fixed)::value;
        if constexpr (Dims != DYNAMIC_DIMS) {
            with_walk_at_level<Dims>(level, [&](auto walk_on_machine) {
                search_groups(tree, k, groups, walk_on_machine, recorder, context);
            });
        }
    });
    return result;
}

CoreDistanceResult kd_group_core_distances(const KdTree& tree, std::size_t k, bool keep_neighbors,
                                           const ExecutionContext& context, ListNaming naming) {
    static const std::size_t best = group_walk_levels() - 1;
    return kd_group_core_distances_at_level(tree, k, keep_neighbors, context, best, naming);
}

}  // namespace corvane
