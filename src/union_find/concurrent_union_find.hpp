#pragma once

#include <atomic>
#include <cstddef>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

#include "union_find/union_find.hpp"

namespace corvane {

// Disjoint sets over the elements 0 .. size-1 that several threads may join at once.
// A set's representative is always its smallest element: a join links the larger of the
// two roots under the smaller. The representatives therefore depend only on the
// partition, never on the order of the joins or on which thread made them, which is what
// lets a batch of joins run in parallel with results identical for any thread count.
// `Index` holds element numbers (32 bits where size allows).
//
// Every write is a compare-and-swap: a root is linked only while it still is a root, and
// path halving moves an element only to one of its ancestors, so losing a race never
// breaks a path. Without union by size a path can grow longer than in UnionFind; the
// halving keeps finds short in practice. Both writes move an element under a smaller one,
// so no element's parent is larger than the element.
template <class Index>
class ConcurrentUnionFind {
  public:
    explicit ConcurrentUnionFind(std::size_t size) : parent_(size) {
        std::iota(parent_.begin(), parent_.end(), Index{0});
    }

    // The representative of x's set, halving the path on the way up. An index out of
    // range throws InternalError.
    std::size_t find(std::size_t x) {
        if (x >= parent_.size()) fail_union_find_index(x, parent_.size());
        for (;;) {
            Index up = link(x).load(std::memory_order_acquire);
            if (up == x) return x;
            const Index above = link(up).load(std::memory_order_acquire);
            if (above == up) return up;
            link(x).compare_exchange_weak(up, above, std::memory_order_acq_rel);
            x = above;
        }
    }

    // Joins the sets of a and b; false when they were one set already (`union` is a
    // keyword).
    bool unite(std::size_t a, std::size_t b) {
        for (;;) {
            a = find(a);
            b = find(b);
            if (a == b) return false;
            if (a < b) std::swap(a, b);
            Index expected = static_cast<Index>(a);
            if (link(a).compare_exchange_strong(expected, static_cast<Index>(b),
                                                std::memory_order_acq_rel)) {
                return true;
            }
        }
    }

    // find() without path halving, for reading the sets once no thread changes them.
    std::size_t representative(std::size_t x) const {
        if (x >= parent_.size()) fail_union_find_index(x, parent_.size());
        while (parent_[x] != x)
            x = parent_[x];
        return x;
    }

    // representative(x) into out[x] for every x in [first, last), once no thread changes
    // the sets, where out[y] holds it already for every y in [known, first): taken in
    // ascending order, an element whose parent lies in [known, x) reads the parent's
    // representative from `out`, and only the others walk up.
    void representatives(std::size_t known, std::size_t first, std::size_t last,
                         std::span<std::size_t> out) const {
        if (known > first || last > parent_.size() || out.size() < last) {
            fail_union_find_index(last, parent_.size());
        }
        for (std::size_t x = first; x < last; ++x) {
            const std::size_t up = parent_[x];
            out[x] = up == x ? x : up >= known ? out[up] : representative(up);
        }
    }

    // Asks the processor to fetch x's entry ahead of a find() on it.
    void prefetch(std::size_t x) const {
        if (x < parent_.size()) __builtin_prefetch(&parent_[x]);
    }

    std::size_t size() const { return parent_.size(); }

  private:
    std::atomic_ref<Index> link(std::size_t x) { return std::atomic_ref<Index>(parent_[x]); }

    std::vector<Index> parent_;
};

}  // namespace corvane
