#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "knn_heap/knn_heap.hpp"
#include "knn_heap/sorted_knn_list.hpp"

namespace corvane {
namespace {

using Pair = std::pair<double, std::size_t>;  // (distance, index) in array order

std::vector<Pair> array_of(const KnnHeap& heap) {
    std::vector<Pair> out;
    for (const KnnEntry& e : heap.entries())
        out.emplace_back(e.distance, e.index);
    return out;
}

TEST(KnnHeap, WorkedExampleArrayOrder) {
    KnnHeap heap(3);
    heap.push(0, 0.0);
    heap.push(1, 4.0);
    heap.push(2, 1.0);
    EXPECT_EQ(array_of(heap), (std::vector<Pair>{{4.0, 1}, {0.0, 0}, {1.0, 2}}));
    heap.push(3, 1.0);
    EXPECT_EQ(array_of(heap), (std::vector<Pair>{{1.0, 3}, {0.0, 0}, {1.0, 2}}));
    heap.push(4, 0.5);
    EXPECT_EQ(array_of(heap), (std::vector<Pair>{{1.0, 2}, {0.0, 0}, {0.5, 4}}));
    EXPECT_EQ(heap.max_distance(), 1.0);
}

TEST(KnnHeap, EqualDistancesKeepEarlierCandidates) {
    KnnHeap heap(1);
    heap.push(7, 2.0);
    heap.push(3, 2.0);
    heap.push(9, 5.0);
    EXPECT_EQ(array_of(heap), (std::vector<Pair>{{2.0, 7}}));
    heap.push(1, 1.0);
    EXPECT_EQ(array_of(heap), (std::vector<Pair>{{1.0, 1}}));

    // Sift-down takes the left child when both children tie above the new root.
    KnnHeap ties(3);
    ties.push(0, 9.0);
    ties.push(1, 5.0);
    ties.push(2, 5.0);
    ties.push(3, 1.0);
    EXPECT_EQ(array_of(ties), (std::vector<Pair>{{5.0, 1}, {1.0, 3}, {5.0, 2}}));
}

TEST(KnnHeap, EmptyNotFullAndClear) {
    const double inf = std::numeric_limits<double>::infinity();
    KnnHeap heap(2);
    EXPECT_EQ(heap.max_distance(), inf);
    EXPECT_FALSE(heap.is_full());
    heap.push(0, inf);  // accepted while not full
    EXPECT_EQ(heap.size(), 1u);
    heap.push(1, 3.0);
    EXPECT_TRUE(heap.is_full());
    EXPECT_EQ(heap.max_distance(), inf);
    heap.clear();
    EXPECT_EQ(heap.size(), 0u);
    EXPECT_EQ(heap.k(), 2u);
    EXPECT_EQ(heap.max_distance(), inf);
}

TEST(KnnHeap, KeepsTheKSmallestOnRandomInput) {
    for (unsigned seed = 0; seed < 20; ++seed) {
        std::mt19937_64 rng(seed);
        std::uniform_int_distribution<int> value(0, 30);  // many ties
        const std::size_t k = 1 + seed % 7;
        KnnHeap heap(k);
        std::vector<double> all;
        for (std::size_t i = 0; i < 100; ++i) {
            const double d = value(rng);
            all.push_back(d);
            heap.push(i, d);
        }
        std::sort(all.begin(), all.end());
        std::vector<double> kept;
        for (const KnnEntry& e : heap.entries())
            kept.push_back(e.distance);
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, std::vector<double>(all.begin(), all.begin() + static_cast<long>(k)))
            << "seed " << seed;
        const auto e = heap.entries();
        for (std::size_t i = 1; i < e.size(); ++i) {
            EXPECT_GE(e[(i - 1) / 2].distance, e[i].distance) << "seed " << seed;
        }
    }
}

// The sorted list against the heap after every push of random streams with many ties and
// infinite distances: the same worst distance, fullness and kept distances, ascending; and
// the same rows wherever no row outside the list ties its worst distance (as the grouped
// core-distance search assumes), and the earlier of tied rows otherwise.
TEST(SortedKnnList, KeepsWhatTheHeapKeeps) {
    for (unsigned seed = 0; seed < 40; ++seed) {
        std::mt19937_64 rng(seed);
        std::uniform_int_distribution<int> value(0, seed % 2 == 0 ? 30 : 1000000);
        const std::size_t k = 1 + seed % 17;
        KnnHeap heap(k);
        SortedKnnList list(k);
        std::vector<Pair> offered;
        for (std::size_t i = 0; i < 200; ++i) {
            const int drawn = value(rng);
            const double d = drawn % 97 == 0 ? std::numeric_limits<double>::infinity() : drawn;
            offered.emplace_back(d, i);
            heap.push(i, d);
            list.push(i, d);
            ASSERT_EQ(list.is_full(), heap.is_full()) << "seed " << seed << " push " << i;
            ASSERT_EQ(list.max_distance(), heap.max_distance()) << "seed " << seed;
            std::vector<Pair> from_heap = array_of(heap);
            std::vector<Pair> from_list;
            for (const KnnEntry& e : list.entries())
                from_list.emplace_back(e.distance, e.index);
            ASSERT_TRUE(std::is_sorted(from_list.begin(), from_list.end(),
                                       [](Pair a, Pair b) { return a.first < b.first; }));
            std::sort(from_heap.begin(), from_heap.end());
            std::sort(from_list.begin(), from_list.end());
            // Offered so far: in order of (distance, offering), the list's rows are the first k.
            std::vector<Pair> first_k = offered;
            std::stable_sort(first_k.begin(), first_k.end(),
                             [](Pair a, Pair b) { return a.first < b.first; });
            first_k.resize(std::min(k, first_k.size()));
            std::sort(first_k.begin(), first_k.end());
            ASSERT_EQ(from_list, first_k) << "seed " << seed << " push " << i;
            const std::size_t at_worst =
                static_cast<std::size_t>(std::count_if(offered.begin(), offered.end(), [&](Pair p) {
                    return p.first == list.max_distance();
                }));
            const std::size_t kept_at_worst = static_cast<std::size_t>(
                std::count_if(from_list.begin(), from_list.end(),
                              [&](Pair p) { return p.first == list.max_distance(); }));
            if (at_worst == kept_at_worst) {
                ASSERT_EQ(from_list, from_heap) << "seed " << seed << " push " << i;
            }
        }
        list.clear();
        EXPECT_EQ(list.entries().size(), 0u);
        EXPECT_FALSE(list.is_full());
        EXPECT_EQ(list.max_distance(), std::numeric_limits<double>::infinity());
    }
}

}  // namespace
}  // namespace corvane
