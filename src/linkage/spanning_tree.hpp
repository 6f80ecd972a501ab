#pragma once

#include <cstddef>
#include <vector>

#include "common/index_array.hpp"
#include "common/internal_error.hpp"
#include "common/mst_edge.hpp"

namespace corvane {

// The minimum spanning tree of a fit as its model keeps it: the n - 1 edges in merge
// order, the order in which the single-linkage pass joins them (by weight, then by
// endpoints; see edge_order.hpp), so that edge i makes row i of the single-linkage tree,
// which one union-find pass rebuilds from here. Endpoints keep the orientation the route
// gave them (`a` already in the tree) and take 4 bytes each while n allows; weights are
// in the hierarchy's units.
class SpanningTree {
  public:
    SpanningTree() = default;

    // Room for up to n - 1 edges over n points, filled by append().
    explicit SpanningTree(std::size_t n)
        : n_(n), a_(n > 0 ? n - 1 : 0, n), b_(n > 0 ? n - 1 : 0, n) {
        weight_.reserve(a_.size());
    }

    std::size_t points() const { return n_; }
    std::size_t size() const { return weight_.size(); }

    MstEdge edge(std::size_t i) const { return {a_[i], b_[i], weight_[i]}; }

    // Appends the next edge in merge order; at most n - 1 of them.
    void append(const MstEdge& edge) {
        const std::size_t i = weight_.size();
        check_index(i, a_.size(), "SpanningTree::append");
        a_.set(i, edge.a);
        b_.set(i, edge.b);
        weight_.push_back(edge.weight);
    }

    // Releases the room of edges never appended.
    void shrink_to_fit() {
        a_.shrink(size());
        b_.shrink(size());
        weight_.shrink_to_fit();
    }

    std::size_t bytes() const {
        return a_.bytes() + b_.bytes() + weight_.capacity() * sizeof(double);
    }

  private:
    std::size_t n_ = 0;
    IndexArray a_;
    IndexArray b_;
    std::vector<double> weight_;
};

}  // namespace corvane
