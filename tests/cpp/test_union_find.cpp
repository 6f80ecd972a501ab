#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "common/internal_error.hpp"
#include "union_find/concurrent_union_find.hpp"
#include "union_find/union_find.hpp"

namespace corvane {
namespace {

// Relabels every member of the losing set: slow, and obviously union by size with the
// first argument's representative surviving a tie.
struct NaiveSets {
    std::vector<std::size_t> label;
    std::vector<std::size_t> size;  // by representative

    explicit NaiveSets(const std::vector<std::size_t>& sizes) : size(sizes) {
        for (std::size_t i = 0; i < sizes.size(); ++i)
            label.push_back(i);
    }

    void unite(std::size_t a, std::size_t b) {
        const std::size_t ra = label[a];
        const std::size_t rb = label[b];
        if (ra == rb) return;
        const std::size_t keep = size[ra] < size[rb] ? rb : ra;
        const std::size_t drop = keep == ra ? rb : ra;
        size[keep] += size[drop];
        for (std::size_t& l : label) {
            if (l == drop) l = keep;
        }
    }
};

// Random unions over elements of random starting sizes (many ties among sizes 1 to 3),
// checked after every union: find, the read-only representative and set sizes.
template <class Sets>
void check_against_naive_sets() {
    for (unsigned seed = 0; seed < 20; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 5 + rng() % 60;
        std::vector<std::size_t> sizes(n);
        for (std::size_t& s : sizes)
            s = seed % 2 == 0 ? 1 : 1 + rng() % 3;
        Sets sets = seed % 2 == 0 ? Sets(n) : Sets(sizes);
        NaiveSets naive(sizes);
        for (std::size_t step = 0; step < 2 * n; ++step) {
            const std::size_t a = rng() % n;
            const std::size_t b = rng() % n;
            sets.unite(a, b);
            naive.unite(a, b);
            for (std::size_t x = 0; x < n; ++x) {
                const std::size_t r = naive.label[x];
                ASSERT_EQ(sets.representative(x), r) << "seed " << seed << " step " << step;
                ASSERT_EQ(sets.set_size(x), naive.size[r]) << "seed " << seed;
            }
            for (std::size_t x = 0; x < n; ++x) {
                ASSERT_EQ(sets.find(x), naive.label[x]) << "seed " << seed << " step " << step;
            }
        }
    }
}

TEST(UnionFind, MatchesNaiveSetsWithStartingSizes) {
    check_against_naive_sets<UnionFind>();
}

// The 32-bit sets single linkage uses must follow the same tie rule.
TEST(CompactUnionFind, MatchesNaiveSetsWithStartingSizes) {
    check_against_naive_sets<CompactUnionFind>();
}

TEST(UnionFind, IndexOutOfRangeIsAnInternalError) {
    const std::vector<std::size_t> sizes{4, 1, 2};
    UnionFind sets(sizes);
    sets.unite(1, 2);  // 1 against 2: element 2's set wins
    EXPECT_EQ(sets.find(1), 2u);
    EXPECT_EQ(sets.set_size(1), 3u);
    sets.unite(1, 0);  // 3 against 4
    EXPECT_EQ(sets.find(2), 0u);
    EXPECT_EQ(sets.set_size(2), 7u);
    EXPECT_THROW(sets.find(3), InternalError);
    EXPECT_THROW(sets.representative(3), InternalError);
    EXPECT_THROW(sets.set_size(17), InternalError);
    EXPECT_THROW(sets.unite(3, 0), InternalError);
    EXPECT_EQ(UnionFind(std::vector<std::size_t>{}).size(), 0u);
}

// Random pairs over few elements (so many joins meet sets joined already), split among
// `threads` threads that join them all at once. Whatever the interleaving, the sets are
// those of the sequential UnionFind, each represented by its smallest element, and
// exactly one join per pair of sets merged reports true.
TEST(ConcurrentUnionFind, ParallelJoinsGiveTheSetsAndSmallestRepresentatives) {
    for (unsigned seed = 0; seed < 12; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = seed < 4 ? 50 : 20000;
        const std::size_t threads = 1 + seed % 5;
        std::vector<std::pair<std::size_t, std::size_t>> pairs(n * 3 / 4);
        for (auto& [a, b] : pairs) {
            a = rng() % n;
            b = rng() % n;
        }
        UnionFind reference(n);
        for (const auto& [a, b] : pairs)
            reference.unite(a, b);

        ConcurrentUnionFind<std::uint32_t> sets(n);
        std::vector<std::size_t> joined(threads, 0);
        std::vector<std::thread> workers;
        for (std::size_t t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (std::size_t i = t; i < pairs.size(); i += threads)
                    joined[t] += sets.unite(pairs[i].first, pairs[i].second) ? 1 : 0;
            });
        }
        for (std::thread& worker : workers)
            worker.join();
        // All representatives at once, in parts of random length, each filled in stretches
        // that read what the stretches before them in the part filled.
        std::vector<std::size_t> filled(n, n);
        const std::size_t part = 1 + rng() % n;
        for (std::size_t start = 0; start < n; start += part) {
            const std::size_t end = std::min(n, start + part);
            for (std::size_t at = start; at < end; at += 7)
                sets.representatives(start, at, std::min(end, at + 7), filled);
        }

        std::vector<std::size_t> smallest(n, n);
        for (std::size_t x = 0; x < n; ++x) {
            std::size_t& first = smallest[reference.find(x)];
            first = std::min(first, x);
        }
        std::size_t set_count = 0;
        for (std::size_t x = 0; x < n; ++x) {
            const std::size_t expected = smallest[reference.find(x)];
            ASSERT_EQ(sets.representative(x), expected) << "seed " << seed;
            ASSERT_EQ(filled[x], expected) << "seed " << seed;
            ASSERT_EQ(sets.find(x), expected) << "seed " << seed;
            set_count += reference.find(x) == x ? 1 : 0;
        }
        std::size_t total = 0;
        for (const std::size_t j : joined)
            total += j;
        EXPECT_EQ(total, n - set_count) << "seed " << seed;
        EXPECT_FALSE(sets.unite(0, 0));
        EXPECT_THROW(sets.find(n), InternalError);
        EXPECT_THROW(sets.representative(n), InternalError);
        EXPECT_THROW(sets.representatives(0, 0, n + 1, filled), InternalError);
    }
}

}  // namespace
}  // namespace corvane
