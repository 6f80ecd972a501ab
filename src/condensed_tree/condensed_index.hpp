#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "condensed_tree/packed_condensed_tree.hpp"
#include "parallel/execution_context.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

// Values by node id for the ids from `first` on: every node (first 0) or the clusters
// alone (first n), read by id either way.
template <class T>
class NodeValues {
  public:
    void assign(std::size_t first, std::size_t count, const T& value) {
        first_ = first;
        values_.assign(count, value);
    }
    T& operator[](std::size_t id) { return values_[id - first_]; }
    const T& operator[](std::size_t id) const { return values_[id - first_]; }
    // The values of the ids from `id` (at least the first one) on.
    std::span<const T> from(std::size_t id) const {
        return std::span<const T>(values_).subspan(id - first_);
    }

    friend bool operator==(const NodeValues&, const NodeValues&) = default;

  private:
    std::size_t first_ = 0;
    std::vector<T> values_;
};

// Flat per-node view of a condensed tree, built when the steps after condensing run.
// Ids are dense: points 0 .. n-1, the root n, the other clusters n+1 .. node_count-1,
// each with a larger id than its parent, so one ascending pass over the clusters meets
// every parent before its children and one descending pass every child before its
// parent.
struct CondensedIndex {
    static constexpr std::size_t NO_PARENT = std::numeric_limits<std::size_t>::max();

    std::size_t n = 0;
    std::size_t node_count = 0;  // 1 + the largest id; 0 for an empty tree
    // Per node: the cluster it is a child of (NO_PARENT for the root), and the
    // lambda of that edge: a point's lambda, a cluster's birth lambda (0.0 for
    // the root). For the clusters alone in an index without its points.
    NodeValues<std::size_t> parent;
    NodeValues<double> lambda;
    // Cluster children of cluster c, in edge order:
    // children[child_begin[c - n] .. child_begin[c - n + 1]).
    std::vector<std::size_t> child_begin;
    std::vector<std::size_t> children;
    // Per cluster (by id - n): the largest finite lambda at which a point leaves it
    // directly, 0.0 when none does; and the largest lambda of any of its edges (its last
    // split or point departure), at least 0.0.
    std::vector<double> deepest_point;
    std::vector<double> last_departure;

    bool empty() const { return node_count == 0; }
    std::size_t root() const { return n; }
    std::size_t end() const { return node_count; }  // one past the last cluster id
    std::span<const std::size_t> children_of(std::size_t cluster) const {
        return std::span<const std::size_t>(children).subspan(
            child_begin[cluster - n], child_begin[cluster - n + 1] - child_begin[cluster - n]);
    }
};

// Builds the index and checks the tree's shape (root n, every other node a
// child exactly once, cluster children above their parents, no gaps in the
// ids); a tree of another shape throws InternalError.
// `context` is checked for interruption as the passes go.
CondensedIndex index_condensed_tree(const PackedCondensedTree& tree,
                                    const ExecutionContext& context = ExecutionContext());

// The same without the points' parents and lambdas, which take 16 bytes a point and are
// scattered over memory: for what reads the clusters alone (selection, persistence, the
// tables of PointLabels and PointProbabilities, glosh_deepest) and the edges for the
// points (for_each_point_edge). The shape is checked as fully.
CondensedIndex index_condensed_clusters(const PackedCondensedTree& tree,
                                        const ExecutionContext& context = ExecutionContext());

// step(point, parent, lambda) for the edge of every point of a tree that
// index_condensed_tree accepted, by the threads of `context`: what an index holds per
// point, read from the edges, so that per-point results can be written once the index is
// gone. Every point is the child of one edge, so steps that write only their own point's
// slots give the same results on any number of threads.
template <class Step>
void for_each_point_edge(const PackedCondensedTree& tree, const ExecutionContext& context,
                         const Step& step) {
    const std::size_t n = tree.points();
    for_each_index(context, tree.size(), [&](std::size_t i) {
        const std::size_t child = tree.child(i);
        if (child < n) step(child, tree.parent(i), tree.lambda(i));
    });
}

}  // namespace corvane
