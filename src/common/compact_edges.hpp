#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/mst_edge.hpp"

namespace corvane {

// Spanning-tree edges over n points as a search collects them: 16 bytes an edge while n
// allows 4-byte endpoints against MstEdge's 24, for the stage in which the edge list
// grows beside the search's own tables. Wider n keeps MstEdge.
class CompactEdges {
  public:
    // Room for `capacity` edges between points below n.
    CompactEdges(std::size_t n, std::size_t capacity)
        : narrow_(n <= std::size_t{std::numeric_limits<std::uint32_t>::max()} + 1) {
        if (narrow_) {
            narrow_edges_.reserve(capacity);
        } else {
            wide_edges_.reserve(capacity);
        }
    }

    // Both ends must be below n.
    void push_back(const MstEdge& edge) {
        if (narrow_) {
            narrow_edges_.push_back({edge.weight, static_cast<std::uint32_t>(edge.a),
                                     static_cast<std::uint32_t>(edge.b)});
        } else {
            wide_edges_.push_back(edge);
        }
    }

    // The edges in the order added, as MstEdge; the compact list is released.
    std::vector<MstEdge> widened() && {
        if (!narrow_) return std::move(wide_edges_);
        std::vector<MstEdge> edges(narrow_edges_.size());
        for (std::size_t i = 0; i < edges.size(); ++i) {
            const NarrowEdge& e = narrow_edges_[i];
            edges[i] = {e.a, e.b, e.weight};
        }
        std::vector<NarrowEdge>().swap(narrow_edges_);
        return edges;
    }

  private:
    struct NarrowEdge {
        double weight;
        std::uint32_t a;
        std::uint32_t b;
    };

    bool narrow_;
    std::vector<NarrowEdge> narrow_edges_;
    std::vector<MstEdge> wide_edges_;
};

}  // namespace corvane
