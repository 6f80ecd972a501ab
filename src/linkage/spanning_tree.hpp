#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "common/index_array.hpp"
#include "common/internal_error.hpp"
#include "common/large_array_allocator.hpp"
#include "common/mst_edge.hpp"
#include "parallel/execution_context.hpp"
#include "parallel/parallel.hpp"

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

    // The edges over n points that are already in merge order, copied by the threads of
    // `context`, which is checked for interruption as they go. An endpoint that is not
    // below n throws InternalError.
    SpanningTree(std::span<const MstEdge> edges, std::size_t n,
                 const ExecutionContext& context = ExecutionContext())
        : n_(n), a_(edges.size(), n), b_(edges.size(), n), weight_(edges.size()) {
        for_each_index(context, edges.size(), [&](std::size_t i) {
            a_.set(i, endpoint(edges[i].a));
            b_.set(i, endpoint(edges[i].b));
            weight_[i] = edges[i].weight;
        });
    }

    std::size_t points() const { return n_; }
    std::size_t size() const { return weight_.size(); }

    MstEdge edge(std::size_t i) const { return {a_[i], b_[i], weight_[i]}; }
    double weight(std::size_t i) const { return weight_[i]; }

    std::size_t bytes() const {
        return a_.bytes() + b_.bytes() + weight_.capacity() * sizeof(double);
    }

  private:
    std::size_t endpoint(std::size_t point) const {
        check_index(point, n_, "spanning tree endpoint");
        return point;
    }

    std::size_t n_ = 0;
    IndexArray a_;
    IndexArray b_;
    LargeArray<double> weight_;
};

}  // namespace corvane
