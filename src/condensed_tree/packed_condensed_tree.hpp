#pragma once

#include <cstddef>
#include <vector>

#include "common/index_array.hpp"
#include "condensed_tree/condensed_tree.hpp"

namespace corvane {

// A condensed tree as a fitted model keeps it: its edges in emission order, one array per
// field, node ids in 4 bytes each while the tree allows. A point's child_size (1) is not
// stored and a cluster's once, by cluster. Passes over the edges read every array in
// order, as they would read the edge list.
class PackedCondensedTree {
  public:
    PackedCondensedTree() = default;

    // The edges of `tree` over n points. A point with a child_size other than 1 or a
    // cluster with more than n points throws InternalError; the rest of the shape is
    // checked by index_condensed_tree.
    PackedCondensedTree(const CondensedTree& tree, std::size_t n);

    std::size_t points() const { return n_; }
    std::size_t size() const { return lambda_.size(); }
    bool empty() const { return lambda_.empty(); }

    // The i-th edge in emission order.
    CondensedEdge edge(std::size_t i) const {
        const std::size_t child = child_[i];
        return {parent_[i], child, lambda_[i], child < n_ ? 1 : cluster_size_[child - n_]};
    }

    // The edge list it was packed from.
    CondensedTree unpacked() const;

    std::size_t bytes() const;

  private:
    std::size_t n_ = 0;
    IndexArray parent_;
    IndexArray child_;
    std::vector<double> lambda_;
    IndexArray cluster_size_;  // by cluster id - n
};

}  // namespace corvane
