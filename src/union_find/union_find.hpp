#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/internal_error.hpp"
#include "common/large_array_allocator.hpp"

namespace corvane {

[[noreturn]] void fail_union_find_index(std::size_t x, std::size_t size);

// Disjoint sets over the elements 0 .. size-1, with full path compression and
// union by size. Storage is allocated once and never grows; each element's
// parent and set size sit side by side, so a lookup touches one cache line.
// `Index` holds element numbers and set sizes: UnionFind takes std::size_t,
// CompactUnionFind 32 bits for half the memory where size and sizes allow.
//
// Tie rule: when two sets of equal size are joined, the representative of the
// first argument of `unite` survives. The single-linkage tree takes its
// left/right order from it, and labelling relies on it to keep a cluster's id
// as the representative when the cluster is joined with a singleton.
//
// `Record` is what a caller keeps per set beside the parent and size, read and
// written at the representative (record(find(x))): kept in the same entry, it
// comes with the find's last read instead of from an array of its own. By
// default nothing is kept.
struct NoSetRecord {};

template <class Index, class Record = NoSetRecord>
class BasicUnionFind {
  public:
    explicit BasicUnionFind(std::size_t size) : nodes_(size) {
        for (std::size_t i = 0; i < size; ++i)
            nodes_[i] = {static_cast<Index>(i), 1, {}};
    }

    // Element i starts as a set of size sizes[i] (for example the number of
    // points it stands for); union by size compares these sizes.
    explicit BasicUnionFind(std::span<const std::size_t> sizes) : nodes_(sizes.size()) {
        for (std::size_t i = 0; i < sizes.size(); ++i)
            nodes_[i] = {static_cast<Index>(i), static_cast<Index>(sizes[i]), {}};
    }

    // The representative of x's set. An element that is a representative or
    // points at one is answered inline; longer paths are walked (iteratively,
    // so long chains cannot exhaust the call stack) and compressed out of
    // line. An index out of range throws InternalError.
    std::size_t find(std::size_t x) {
        if (x >= nodes_.size()) fail_union_find_index(x, nodes_.size());
        const Index up = nodes_[x].parent;
        if (nodes_[up].parent == up) return up;
        return find_and_compress(x);
    }

    // find() without path compression: reads only, so several threads may call
    // it at once while no thread changes the sets.
    std::size_t representative(std::size_t x) const {
        const std::size_t count = nodes_.size();
        if (x >= count) fail_union_find_index(x, count);
        while (nodes_[x].parent != x) {
            x = nodes_[x].parent;
            check_index(x, count, "UnionFind::find");
        }
        return x;
    }

    // The size of x's set (the sum of the sizes of its elements).
    std::size_t set_size(std::size_t x) const { return nodes_[representative(x)].size; }

    // The record of the set whose representative is `root`; unset (value-initialised)
    // until written.
    Record& record(std::size_t root) { return nodes_[root].record; }

    // Joins the sets of a and b (`union` is a keyword) and returns the representative of
    // the joined set.
    std::size_t unite(std::size_t a, std::size_t b) {
        const std::size_t ra = find(a);
        const std::size_t rb = find(b);
        if (ra == rb) return ra;
        if (nodes_[ra].size < nodes_[rb].size) {
            nodes_[ra].parent = static_cast<Index>(rb);
            nodes_[rb].size += nodes_[ra].size;
            return rb;
        }
        nodes_[rb].parent = static_cast<Index>(ra);
        nodes_[ra].size += nodes_[rb].size;
        return ra;
    }

    // Asks the processor to fetch x's entry ahead of a find() on it.
    void prefetch(std::size_t x) const {
        if (x < nodes_.size()) __builtin_prefetch(&nodes_[x]);
    }

    // x's parent as it stands, for prefetching what a later find() will read;
    // x itself when x is out of range.
    std::size_t parent_hint(std::size_t x) const {
        return x < nodes_.size() ? nodes_[x].parent : x;
    }

    std::size_t size() const { return nodes_.size(); }

  private:
    struct Node {
        Index parent;
        Index size;                           // meaningful at a representative only
        [[no_unique_address]] Record record;  // likewise
    };

    std::size_t find_and_compress(std::size_t x) {
        const std::size_t root = representative(x);
        while (nodes_[x].parent != root) {
            const std::size_t next = nodes_[x].parent;
            nodes_[x].parent = static_cast<Index>(root);
            x = next;
        }
        return root;
    }

    LargeArray<Node> nodes_;
};

using UnionFind = BasicUnionFind<std::size_t>;
using CompactUnionFind = BasicUnionFind<std::uint32_t>;

}  // namespace corvane
