#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace corvane {

// Disjoint sets over the elements 0 .. size-1, with full path compression and
// union by size. Storage is allocated once and never grows; each element's
// parent and set size sit side by side, so a lookup touches one cache line.
//
// Tie rule: when two sets of equal size are joined, the representative of the
// first argument of `unite` survives. The single-linkage tree takes its
// left/right order from it, and labelling relies on it to keep a cluster's id
// as the representative when the cluster is joined with a singleton.
class UnionFind {
  public:
    explicit UnionFind(std::size_t size);

    // Element i starts as a set of size sizes[i] (for example the number of
    // points it stands for); union by size compares these sizes.
    explicit UnionFind(std::span<const std::size_t> sizes);

    // The representative of x's set. An element that is a representative or
    // points at one is answered inline; longer paths are walked (iteratively,
    // so long chains cannot exhaust the call stack) and compressed out of
    // line. An index out of range throws InternalError.
    std::size_t find(std::size_t x) {
        if (x >= nodes_.size()) fail_out_of_range(x);
        const std::size_t up = nodes_[x].parent;
        if (nodes_[up].parent == up) return up;
        return find_and_compress(x);
    }

    // find() without path compression: reads only, so several threads may call
    // it at once while no thread changes the sets.
    std::size_t representative(std::size_t x) const;

    // The size of x's set (the sum of the sizes of its elements).
    std::size_t set_size(std::size_t x) const { return nodes_[representative(x)].size; }

    // Joins the sets of a and b (`union` is a keyword).
    void unite(std::size_t a, std::size_t b);

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
        std::size_t parent;
        std::size_t size;  // meaningful at a representative only
    };

    [[noreturn]] void fail_out_of_range(std::size_t x) const;
    std::size_t find_and_compress(std::size_t x);

    std::vector<Node> nodes_;
};

}  // namespace corvane
