// The walk of kd_group_core_distances (group_core_distances.hpp) in vector types. No
// include guard: group_core_distances.cpp includes this file once per instruction set,
// each time in its own namespace under its own target pragma, since GCC lowers vector
// compares for the target in force where a function is defined rather than where it is
// inlined. The including namespace defines W, the lanes per vector (as many doubles as
// the target's registers hold: compares on wider vectors are done lane by lane),
// LANES<Dims>, the rows per walk in Dims columns (a multiple of W), and lane_bits(flags),
// the sign bit of every lane of an all-ones-or-zero vector as a bit mask. Walk and
// ROW_BLOCK come from the including file.

typedef double Part __attribute__((vector_size(W * sizeof(double))));
typedef std::int64_t Flags __attribute__((vector_size(W * sizeof(double))));
template <std::size_t Dims>
using LaneWalk = Walk<Dims, LANES<Dims>>;

[[gnu::always_inline]] inline Part load(const double* from) {
    Part part;
    std::memcpy(&part, from, sizeof part);
    return part;
}

[[gnu::always_inline]] inline void store(const Part& part, double* to) {
    std::memcpy(to, &part, sizeof part);
}

// `value` in every lane: less +0, which leaves every double as it is, -0 included.
[[gnu::always_inline]] inline Part splat(double value) {
    return value - Part{};
}

// The lanes (bit l for lane l) whose `value` is below their limit or whose limit is open
// (NaN: every comparison with it is false).
template <std::size_t Lanes>
[[gnu::always_inline]] inline unsigned admitted_lanes(const double* value, const double* limit) {
    static_assert(Lanes % W == 0);
    unsigned admitted = 0;
#pragma GCC unroll 8
    for (std::size_t p = 0; p < Lanes / W; ++p) {
        const Flags reaches = load(value + p * W) >= load(limit + p * W);
        admitted |= static_cast<unsigned>(lane_bits(~reaches)) << (p * W);
    }
    return admitted;
}

// Per lane, the sum over the columns j of term(j, the lanes' values in column j) squared,
// in the summation order of lane_sum_of_squares (squared_distance.hpp): column j into
// running sum j % 4, the sums combined as (0 + 1) + (2 + 3). A sum of squares is never
// -0, and adding +0 to it leaves it as it is, so the sums of fewer than four columns
// leave the empty running sums out.
template <std::size_t Dims, class Term>
[[gnu::always_inline]] inline void lane_sums_of_squares(const LaneWalk<Dims>& walk, double* out,
                                                        const Term& term) {
#pragma GCC unroll 8
    for (std::size_t p = 0; p < LANES<Dims> / W; ++p) {
        Part sums[4];
#pragma GCC unroll 16
        for (std::size_t j = 0; j < Dims; ++j) {
            const Part t = term(j, load(walk.point[j] + p * W));
            if (j < 4) {
                sums[j] = t * t;
            } else {
                sums[j % 4] += t * t;
            }
        }
        Part total;
        if constexpr (Dims == 1) total = sums[0];
        if constexpr (Dims == 2) total = sums[0] + sums[1];
        if constexpr (Dims == 3) total = (sums[0] + sums[1]) + sums[2];
        if constexpr (Dims >= 4) total = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        store(total, out + p * W);
    }
}

// The squared distances between `row` and every lane: every lane does what
// squared_distance does.
template <std::size_t Dims>
[[gnu::always_inline]] inline void lane_distances(const double* row, const LaneWalk<Dims>& walk,
                                                  double* out) {
    lane_sums_of_squares<Dims>(walk, out,
                               [row](std::size_t j, const Part& point) { return row[j] - point; });
}

// The box bound of `node` in every lane, bit for bit KdTree::min_rdist_point's, and so
// never above the computed distance of a row of the node. Per column that takes the gap
// max(lo - point, point - hi, 0); here it is point less the point clamped to [lo, hi],
// one operation fewer: below the box that is -(lo - point) exactly (rounding is
// symmetric), above it point - hi, inside it 0, and each squares to the same value.
template <std::size_t Dims>
[[gnu::always_inline]] inline void lane_bounds(const KdTree& tree, std::size_t node,
                                               const LaneWalk<Dims>& walk, double* out) {
    const double* lo = tree.lower_bounds.data() + node * Dims;
    const double* hi = tree.upper_bounds.data() + node * Dims;
    lane_sums_of_squares<Dims>(walk, out, [lo, hi](std::size_t j, const Part& point) {
        const Part low = splat(lo[j]);
        const Part high = splat(hi[j]);
        const Part raised = point < low ? low : point;
        return point - (raised > high ? high : raised);
    });
}

// Takes `value` into the turned-away distance of the lanes whose limit it equals. A value
// above the limit lies above the final k-th distance too, which is at most the limit, so
// it cannot tie it and needs no note; and a value at the limit is at most every
// turned-away distance noted before (limits only fall), so it replaces the least.
template <std::size_t Lanes>
[[gnu::always_inline]] inline void note_turned_away(const double* value, const double* limit,
                                                    double* turned_away) {
#pragma GCC unroll 8
    for (std::size_t p = 0; p < Lanes / W; ++p) {
        const Part v = load(value + p * W);
        const Part least = load(turned_away + p * W);
        store(v == load(limit + p * W) ? v : least, turned_away + p * W);
    }
}

// Offers the tree positions [start, end) to every lane they improve. The distances of a
// block of rows are measured first and the rows some lane admits at the limits of that
// moment are listed without branches; limits only fall, so those are the only rows that
// can still gain, each checked again at its push.
template <std::size_t Dims>
[[gnu::always_inline]] inline void offer_rows(const KdTree& tree, std::size_t start,
                                              std::size_t end, LaneWalk<Dims>& walk,
                                              SortedKnnList* lists) {
    constexpr std::size_t Lanes = LANES<Dims>;
    alignas(64) double distances[ROW_BLOCK][Lanes];
    unsigned admitted[ROW_BLOCK];
    std::size_t gaining[ROW_BLOCK];
    for (std::size_t block = start; block < end; block += ROW_BLOCK) {
        const std::size_t rows = std::min(ROW_BLOCK, end - block);
        const double* first_row = tree.tree_data.data() + block * Dims;
        std::size_t count = 0;
        // Locals, so that the loop keeps them in registers.
        alignas(64) double limit[Lanes];
        alignas(64) double turned_away[Lanes];
        std::memcpy(limit, walk.limit, sizeof(limit));
        std::memcpy(turned_away, walk.turned_away, sizeof(turned_away));
        for (std::size_t r = 0; r < rows; ++r) {
            lane_distances<Dims>(first_row + r * Dims, walk, distances[r]);
            admitted[r] = admitted_lanes<Lanes>(distances[r], limit);
            note_turned_away<Lanes>(distances[r], limit, turned_away);
            gaining[count] = r;
            count += admitted[r] != 0;
        }
        std::memcpy(walk.turned_away, turned_away, sizeof(turned_away));
        for (std::size_t g = 0; g < count; ++g) {
            const std::size_t r = gaining[g];
            for (unsigned bits = admitted[r]; bits != 0; bits &= bits - 1) {
                const unsigned l = static_cast<unsigned>(__builtin_ctz(bits));
                const double distance = distances[r][l];
                SortedKnnList& list = lists[l];
                // The row itself, or the list's worst entry it pushes out.
                const double dropped = distance >= walk.limit[l] ? distance
                                       : list.is_full()          ? list.max_distance()
                                                                 : walk.turned_away[l];
                walk.turned_away[l] = std::min(walk.turned_away[l], dropped);
                if (distance >= walk.limit[l]) continue;
                list.push(block + r, distance);
                if (list.is_full()) walk.limit[l] = list.max_distance();
            }
        }
    }
}

// One walk: the group's rows first, then the rest of the tree depth first, the child on
// the rows' side of a split before the other. Only the nodes taken from the stack are
// tested: the near child of a node some lane admits is nearly always admitted too (98 in
// 100, against 41 for a far child, in 250 000 normal rows of 5 columns), so the walk
// goes down the near side untested, pushing the far children. Testing less leaves the
// lists as they are: a node a test would have skipped holds only rows that no lane
// admits, turned away instead row by row or with a descendant, whose bound is never
// below its own.
template <std::size_t Dims>
void walk_tree(const KdTree& tree, LaneWalk<Dims>& walk, SortedKnnList* lists) {
    constexpr std::size_t Lanes = LANES<Dims>;
    offer_rows<Dims>(tree, walk.group_start, walk.group_end, walk, lists);
    const auto in_group = [&walk](const KdNode& record) {
        return record.start >= walk.group_start && record.end <= walk.group_end;
    };
    // The far children pushed on the way down from a node lie one a level below it, and
    // the node taken up next is the deepest: at most one pending node a level.
    std::size_t pending[MAX_TREE_DEPTH + 1];
    std::size_t top = 0;
    pending[top++] = 0;
    while (top != 0) {
        const std::size_t node = pending[--top];
        if (in_group(tree.nodes[node])) continue;
        alignas(64) double bound[Lanes];
        lane_bounds<Dims>(tree, node, walk, bound);
        if (admitted_lanes<Lanes>(bound, walk.limit) == 0) {
            note_turned_away<Lanes>(bound, walk.limit, walk.turned_away);
            continue;
        }
        for (const KdNode* record = &tree.nodes[node]; !in_group(*record);) {
            if (record->is_leaf) {
                offer_rows<Dims>(tree, record->start, record->end, walk, lists);
                break;
            }
            const bool left_near = walk.centre[record->split_dim] <= record->split_value;
            pending[top++] = left_near ? record->right : record->left;
            record = &tree.nodes[left_near ? record->left : record->right];
        }
    }
}
