#pragma once

#include <cstddef>
#include <vector>

namespace corvane {

// Disjoint sets over the elements 0 .. size-1, with full path compression and
// union by size. Both arrays are allocated once and never grow.
//
// Tie rule: when two sets of equal size are joined, the representative of the
// first argument of `unite` survives. The single-linkage tree takes its
// left/right order from it, and labelling relies on it to keep a cluster's id
// as the representative when the cluster is joined with a singleton.
class UnionFind {
  public:
    explicit UnionFind(std::size_t size);

    // The representative of x's set. Iterative, so long parent chains cannot
    // exhaust the call stack. An index out of range throws InternalError.
    std::size_t find(std::size_t x);

    // Joins the sets of a and b (`union` is a keyword).
    void unite(std::size_t a, std::size_t b);

    std::size_t size() const { return parent_.size(); }

  private:
    std::vector<std::size_t> parent_;
    std::vector<std::size_t> size_;
};

}  // namespace corvane
