#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/internal_error.hpp"
#include "tree_common/rank_select.hpp"

namespace corvane {
namespace {

struct Selected {
    double value;
    std::vector<RankTally> tallies;
};

Selected select(const std::vector<double>& keys, std::size_t rank,
                const std::vector<std::size_t>& bounds) {
    const std::size_t n = keys.size();
    std::vector<double> bucket(n);
    std::vector<double> work(n);
    Selected out{0.0, std::vector<RankTally>(bounds.size() - 1)};
    const ExecutionContext context(1);
    out.value = select_rank_value(
        n, rank, [&](std::size_t i) { return keys[i]; }, bounds, out.tallies, bucket.data(),
        work.data(),
        [&](const auto& step) {
            for (std::size_t p = 0; p + 1 < bounds.size(); ++p)
                step(p);
        },
        context);
    return out;
}

// Keys of a named shape: ties by the thousand, sorted and periodic orders (which a
// sample taken at a fixed stride would misjudge), and plain random values.
std::vector<double> keys_of(const std::string& shape, std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::vector<double> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (shape == "random") {
            keys[i] = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
        } else if (shape == "three values") {
            keys[i] = static_cast<double>(rng() % 3);
        } else if (shape == "all equal") {
            keys[i] = 2.5;
        } else if (shape == "ascending") {
            keys[i] = static_cast<double>(i / 3);
        } else if (shape == "descending") {
            keys[i] = -static_cast<double>(i);
        } else if (shape == "periodic") {
            keys[i] = static_cast<double>(i % 64 == 0 ? 1000 + i : i % 7);
        } else {
            keys[i] = i % 2 == 0 ? 0.0 : -0.0;  // equal keys of either sign
        }
    }
    return keys;
}

// The value of every rank is the one a full sort puts there, and each part's tallies are
// its plain counts, for ranges below and above the sampling threshold, cut into one or
// two parts.
TEST(SelectRankValue, MatchesASortAtEveryRank) {
    const std::vector<std::string> shapes = {"random",      "three values", "all equal",
                                             "ascending",   "descending",   "periodic",
                                             "signed zeros"};
    for (const std::size_t n : {1, 2, 9, 512, 513, 2000, 5001}) {
        for (std::size_t s = 0; s < shapes.size(); ++s) {
            const std::vector<double> keys = keys_of(shapes[s], n, static_cast<unsigned>(n + s));
            std::vector<double> sorted = keys;
            std::sort(sorted.begin(), sorted.end());
            const std::vector<std::size_t> cut = {0, n / 3, n};
            const std::vector<std::size_t> whole = {0, n};
            // Every rank up to 2000 keys; spread ranks beyond.
            const std::size_t step = n > 2000 ? 97 : 1;
            for (std::size_t rank = 0; rank < n; rank += step) {
                for (const auto* bounds : {&whole, &cut}) {
                    const Selected got = select(keys, rank, *bounds);
                    SCOPED_TRACE(::testing::Message() << shapes[s] << ", " << n << " keys, rank "
                                                      << rank << ", parts " << bounds->size() - 1);
                    ASSERT_EQ(got.value, sorted[rank]);
                    for (std::size_t p = 0; p + 1 < bounds->size(); ++p) {
                        RankTally expected;
                        for (std::size_t i = (*bounds)[p]; i < (*bounds)[p + 1]; ++i) {
                            expected.less += keys[i] < got.value ? 1 : 0;
                            expected.equal += keys[i] == got.value ? 1 : 0;
                        }
                        ASSERT_EQ(got.tallies[p].less, expected.less) << "part " << p;
                        ASSERT_EQ(got.tallies[p].equal, expected.equal) << "part " << p;
                    }
                }
            }
        }
    }
}

// The sample's bracket is selected in two steps, the second within the keys the first
// left above its rank: select_in_place must leave no greater key before the rank and no
// smaller one after it, also across the interruption checks of long ranges.
TEST(SelectRankValue, InPlaceSelectionPartitionsAroundTheRank) {
    const ExecutionContext context(1);
    for (const std::size_t n : {1, 5, 9, 100, 70000}) {
        for (const std::string shape : {"random", "three values", "all equal", "descending"}) {
            const std::vector<double> keys = keys_of(shape, n, 11);
            std::vector<double> sorted = keys;
            std::sort(sorted.begin(), sorted.end());
            for (const std::size_t rank : {std::size_t{0}, n / 2, n - 1}) {
                std::vector<double> work = keys;
                const double value =
                    rank_select_detail::select_in_place(work.data(), n, rank, context);
                SCOPED_TRACE(::testing::Message() << shape << ", " << n << " keys, rank " << rank);
                ASSERT_EQ(value, sorted[rank]);
                ASSERT_EQ(work[rank], value);
                for (std::size_t i = 0; i < n; ++i) {
                    if (i < rank) {
                        ASSERT_LE(work[i], value) << i;
                    } else if (i > rank) {
                        ASSERT_GE(work[i], value) << i;
                    }
                }
                std::sort(work.begin(), work.end());
                ASSERT_EQ(work, sorted);
            }
        }
    }
}

// Keys that make every median of three of select_in_place the second smallest key of
// its range, so that each partition step shortens the range by one or two keys: the
// steps are followed with the keys not yet looked at standing above every key that was,
// and those are numbered last.
std::vector<double> median_of_three_killer(std::size_t n, std::size_t rank) {
    constexpr double UNSEEN = -1.0;
    std::vector<double> value(n, UNSEEN);
    std::vector<std::size_t> item(n);
    std::iota(item.begin(), item.end(), std::size_t{0});
    double next = 0.0;
    std::size_t lo = 0;
    std::size_t hi = n;
    while (hi - lo > 8) {
        for (const std::size_t at : {lo, lo + (hi - lo) / 2, hi - 1}) {
            if (value[item[at]] == UNSEEN) value[item[at]] = next++;
        }
        const double a = value[item[lo]];
        const double b = value[item[lo + (hi - lo) / 2]];
        const double c = value[item[hi - 1]];
        const double pivot = std::max(std::min(a, b), std::min(std::max(a, b), c));
        std::size_t front = lo;
        for (std::size_t i = lo; i < hi; ++i) {
            std::swap(item[i], item[front]);
            const double v = value[item[front]];
            front += v != UNSEEN && v < pivot ? 1 : 0;
        }
        if (rank < front) {
            hi = front;
        } else {
            lo = front;
        }
    }
    for (double& v : value) {
        if (v == UNSEEN) v = next++;
    }
    return value;
}

// Each pass over a range checks for interruption once per SHORT_STEPS_PER_CHECK keys, so
// the polls count the work: without a bound on the steps the order below takes some
// 7 500 passes over ranges of more than 12 000 keys, and 10 000 polls.
TEST(SelectRankValue, NoOrderMakesTheInPlaceSelectionQuadratic) {
    const std::size_t n = 20000;
    const std::vector<double> keys = median_of_three_killer(n, n / 2);
    std::size_t polls = 0;
    const ExecutionContext context(1, [&polls] {
        ++polls;
        return false;
    });
    std::vector<double> work = keys;
    EXPECT_EQ(rank_select_detail::select_in_place(work.data(), n, n / 2, context),
              static_cast<double>(n / 2));
    EXPECT_LT(polls, 200u);
}

TEST(SelectRankValue, NaNKeyIsABrokenInvariant) {
    std::vector<double> keys(4000, std::numeric_limits<double>::quiet_NaN());
    EXPECT_THROW(select(keys, 2000, {0, 4000}), InternalError);
    keys.assign(100, std::numeric_limits<double>::quiet_NaN());
    EXPECT_THROW(select(keys, 50, {0, 100}), InternalError);
}

}  // namespace
}  // namespace corvane
