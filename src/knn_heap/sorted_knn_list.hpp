#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "knn_heap/knn_heap.hpp"

namespace corvane {

// The k best candidates of one query in ascending order of distance: the same candidates
// KnnHeap keeps where no two distances tie at its worst (a full list rejects a candidate
// equal to its worst, and the worst entry is the one pushed out), in sorted rather than
// heap order. An insertion moves the larger entries up one place in a single loop with
// one exit, where a heap's sift takes an unpredictable turn at every level: cheaper for
// the small k of core distances, whose searches push far more often than they read.
// Not thread-safe; each search thread owns its lists and reuses them via clear().
class SortedKnnList {
  public:
    explicit SortedKnnList(std::size_t k) : entries_(k), k_(k) {}

    void clear() { size_ = 0; }
    std::size_t k() const { return k_; }
    bool is_full() const { return size_ >= k_; }
    double max_distance() const {
        return size_ == 0 ? std::numeric_limits<double>::infinity() : entries_[size_ - 1].distance;
    }
    std::span<const KnnEntry> entries() const { return {entries_.data(), size_}; }

    void push(std::size_t index, double distance) {
        KnnEntry* e = entries_.data();
        std::size_t slot = size_;
        if (is_full()) {
            if (k_ == 0 || !(distance < e[k_ - 1].distance)) return;
            slot = k_ - 1;
        } else {
            ++size_;
        }
        for (; slot > 0 && e[slot - 1].distance > distance; --slot)
            e[slot] = e[slot - 1];
        e[slot] = {distance, index};
    }

  private:
    std::vector<KnnEntry> entries_;
    std::size_t k_;
    std::size_t size_ = 0;
};

}  // namespace corvane
