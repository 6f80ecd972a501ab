#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace corvane {

struct KnnEntry {
    double distance;    // squared Euclidean distance for every current caller
    std::size_t index;  // row number in the caller's matrix (input order), or a tree
                        // position where the search says so
};

// Bounded binary max-heap of the k best candidates of one query: the root is
// the worst kept candidate, so one comparison rejects a candidate or prunes a
// region. The array order of `entries()` is observable (neighbour lists are
// copied out in it), so placement follows fixed rules: entries move only past
// strictly smaller neighbours, a full heap rejects a candidate equal to its
// worst, and sift-down prefers the left child on equal children.
// Not thread-safe; each search thread owns one heap and reuses it via clear().
class KnnHeap {
  public:
    explicit KnnHeap(std::size_t k) : k_(k) { entries_.reserve(k); }

    void clear() {
        entries_.clear();
        full_ = k_ == 0;
    }
    std::size_t size() const { return entries_.size(); }
    std::size_t k() const { return k_; }
    bool is_full() const { return full_; }
    double max_distance() const {
        return entries_.empty() ? std::numeric_limits<double>::infinity() : entries_[0].distance;
    }
    std::span<const KnnEntry> entries() const { return entries_; }

    void push(std::size_t index, double distance) {
        if (!full_) {
            entries_.push_back({distance, index});
            sift_up(entries_.size() - 1);
            full_ = entries_.size() >= k_;
        } else if (distance < entries_[0].distance) {
            entries_[0] = {distance, index};
            sift_down();
        }
    }

  private:
    void sift_up(std::size_t i) {
        KnnEntry* e = entries_.data();
        while (i > 0) {
            const std::size_t parent = (i - 1) / 2;
            if (!(e[i].distance > e[parent].distance)) break;
            std::swap(e[i], e[parent]);
            i = parent;
        }
    }

    void sift_down() {
        KnnEntry* e = entries_.data();
        const std::size_t n = entries_.size();
        std::size_t c = 0;
        for (;;) {
            std::size_t m = c;
            const std::size_t l = 2 * c + 1;
            const std::size_t r = l + 1;
            if (l < n && e[l].distance > e[c].distance) m = l;
            if (r < n && e[r].distance > e[m].distance) m = r;
            if (m == c) return;
            std::swap(e[c], e[m]);
            c = m;
        }
    }

    std::vector<KnnEntry> entries_;
    std::size_t k_;
    bool full_ = k_ == 0;  // entries_.size() >= k_: searches ask at every node
};

}  // namespace corvane
