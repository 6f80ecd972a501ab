// The loops of screen_leaf_pairs (leaf_pair_screen.hpp) in vector types. No include
// guard: leaf_pair_screen.cpp includes this file once per instruction set, each time in
// its own namespace under its own target pragma, since GCC lowers vector compares for the
// target in force where a function is defined rather than where it is inlined. The
// including namespace defines LANES, the rows per vector (as many doubles as the target's
// registers hold, since compares on wider vectors are not split but done lane by lane),
// and lane_bits(flags), the sign bit of every lane of an all-ones-or-zero vector as a
// bit mask.

typedef double Doubles __attribute__((vector_size(LANES * sizeof(double))));
typedef std::uint64_t Words __attribute__((vector_size(LANES * sizeof(double))));
typedef std::int64_t Flags __attribute__((vector_size(LANES * sizeof(double))));

[[gnu::always_inline]] inline Doubles load(const double* from) {
    Doubles v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

[[gnu::always_inline]] inline Words load(const std::uint64_t* from) {
    Words v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

// max_ignoring_nan for operands that are not NaN: the larger, `a` on ties.
[[gnu::always_inline]] inline Doubles larger(Doubles a, Doubles b) {
    return a < b ? b : a;
}

// The squared distances of a block of rows to `point`, each lane summed exactly as
// squared_distance sums one pair for Dims <= 8: column c goes to lane c % 4 as a running
// sum, and the lanes combine as (0 + 1) + (2 + 3). An empty lane is +0, and adding +0 to
// a sum of squares (never -0) leaves it as it is, so empty lanes are left out.
template <std::size_t Dims>
[[gnu::always_inline]] inline Doubles block_squared_distances(const ScreenLeaf& leaf,
                                                              std::size_t block,
                                                              const double* point) {
    Doubles lane[4];
    for (std::size_t c = 0; c < Dims; ++c) {
        const Doubles t = point[c] - load(&leaf.columns[c][block]);
        if (c < 4) {
            lane[c] = t * t;
        } else {
            lane[c - 4] += t * t;
        }
    }
    if constexpr (Dims == 1) return lane[0];
    if constexpr (Dims == 2) return lane[0] + lane[1];
    if constexpr (Dims == 3) return (lane[0] + lane[1]) + lane[2];
    if constexpr (Dims >= 4) return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

template <std::size_t Dims>
[[gnu::always_inline]] inline void screen(const ScreenLeaf& leaf, const ScreenQuery* queries,
                                          std::size_t count, std::uint64_t* masks) {
    const std::uint64_t used =
        leaf.count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << leaf.count) - 1;
    for (std::size_t t = 0; t < count; ++t) {
        const ScreenQuery& query = queries[t];
        std::uint64_t mask = 0;
        for (std::size_t block = 0; block < leaf.count; block += LANES) {
            const Doubles d = block_squared_distances<Dims>(leaf, block, query.row);
            const Doubles w = larger(larger(load(&leaf.core[block]), query.core + Doubles{}), d);
            const Flags open =
                (load(&leaf.component[block]) != query.component) &
                (((w < query.own) & (w <= query.shared)) | (w < load(&leaf.other[block])));
            mask |= lane_bits(open) << block;
        }
        masks[t] = mask & used;
    }
}

inline void screen_all(const ScreenLeaf& leaf, std::size_t dims, const ScreenQuery* queries,
                       std::size_t count, std::uint64_t* masks) {
    switch (dims) {
        case 1:
            return screen<1>(leaf, queries, count, masks);
        case 2:
            return screen<2>(leaf, queries, count, masks);
        case 3:
            return screen<3>(leaf, queries, count, masks);
        case 4:
            return screen<4>(leaf, queries, count, masks);
        case 5:
            return screen<5>(leaf, queries, count, masks);
        case 6:
            return screen<6>(leaf, queries, count, masks);
        case 7:
            return screen<7>(leaf, queries, count, masks);
        case 8:
            return screen<8>(leaf, queries, count, masks);
        default:
            return;
    }
}
