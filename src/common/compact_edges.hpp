#pragma once

#include <cstddef>
#include <vector>

#include "common/index_array.hpp"
#include "common/mst_edge.hpp"

namespace corvane {

// Spanning-tree edges over n points as a search collects them: 16 bytes an edge while n
// allows 4-byte endpoints against MstEdge's 24, for the stage in which the edge list
// grows beside the search's own tables.
class CompactEdges {
  public:
    // Room for `capacity` edges between points below n.
    CompactEdges(std::size_t n, std::size_t capacity) : a_(0, n), b_(0, n) {
        a_.reserve(capacity);
        b_.reserve(capacity);
        weight_.reserve(capacity);
    }

    // Both ends must be below n.
    void push_back(const MstEdge& edge) {
        a_.push_back(edge.a);
        b_.push_back(edge.b);
        weight_.push_back(edge.weight);
    }

    std::size_t size() const { return weight_.size(); }

    // Adds `count` edges of zeros at the end, for set() to fill in; several threads may
    // set distinct edges at once.
    void grow(std::size_t count) {
        a_.resize(size() + count);
        b_.resize(size() + count);
        weight_.resize(size() + count);
    }

    // Both ends must be below n.
    void set(std::size_t i, const MstEdge& edge) {
        a_.set(i, edge.a);
        b_.set(i, edge.b);
        weight_[i] = edge.weight;
    }

    // The edges in the order added, as MstEdge; the compact list is released.
    std::vector<MstEdge> widened() && {
        std::vector<MstEdge> edges(weight_.size());
        for (std::size_t i = 0; i < edges.size(); ++i)
            edges[i] = {a_[i], b_[i], weight_[i]};
        a_ = IndexArray();
        b_ = IndexArray();
        std::vector<double>().swap(weight_);
        return edges;
    }

  private:
    IndexArray a_;
    IndexArray b_;
    std::vector<double> weight_;
};

}  // namespace corvane
