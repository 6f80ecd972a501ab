#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "knn_heap/knn_heap.hpp"

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

}  // namespace
}  // namespace corvane
