#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condensed_index.hpp"

namespace corvane {

// Where a point sits in the condensed tree: the cluster it leaves from and the lambda at
// which it leaves. A new point is placed like this through its nearest training point.
struct TreePlace {
    std::size_t cluster = 0;
    double lambda = 0.0;
};

// The merge heights of points with the selected clusters of a condensed tree, the tree
// part of soft clustering.
//
// The merge height h_C(x) of a point x with a selected cluster C is the lambda at which x
// and C are last in the same cluster: if x leaves from C or from a cluster below it, the
// lambda at which x leaves; otherwise, at the lowest common ancestor A of x's cluster
// and C, the lambda at which the branch holding x leaves A (x's own lambda when x leaves
// from A itself, else the birth lambda of A's child on the way to x).
//
// deepest(c) is the largest finite lambda at which a point leaves c or a cluster below
// it, as the outlier scores read it (glosh_deepest), except that a cluster without a
// positive one (its points all leave at +infinity: duplicates) takes the largest finite
// point lambda of the whole tree. Lambdas are read
// capped at deepest(x's cluster), so that points leaving at +infinity (at distance 0)
// count as the deepest finite point, as membership probabilities count them.
//
// Layout: clusters by id - n; the selected clusters sorted by their position in a
// preorder walk of the clusters, so that those below any cluster are one contiguous run
// of that order. Immutable once built; any number of threads may read it at once.
class MergeHeights {
  public:
    // Over `index` (non-empty) and `selection` (label k is selection.clusters[k]).
    MergeHeights(const CondensedIndex& index, const ClusterSelection& selection);

    std::size_t clusters() const { return label_by_order_.size(); }
    double deepest(std::size_t cluster) const {
        const double own = deepest_[cluster - n_];
        return own > 0.0 ? own : deepest_anywhere_;
    }
    double deepest_of_label(std::size_t label) const { return deepest_by_label_[label]; }

    // h_C(x) for every selected cluster C, by label, for a point at `place`; `heights`
    // holds clusters() values. The walk goes up from the point's cluster until every
    // selected cluster is met: O(depth + clusters() + depth * log clusters()).
    void merge_heights(TreePlace place, std::span<double> heights) const;

  private:
    std::size_t n_ = 0;
    std::vector<std::size_t> parent_;  // by cluster id - n; NO_PARENT for the root
    std::vector<double> birth_;        // by cluster id - n
    std::vector<double> deepest_;      // by cluster id - n
    double deepest_anywhere_ = 0.0;
    std::vector<std::size_t> preorder_;        // by cluster id - n: position in the walk
    std::vector<std::size_t> subtree_end_;     // by cluster id - n: one past its last descendant
    std::vector<std::size_t> order_position_;  // selected clusters' positions, ascending
    std::vector<std::size_t> label_by_order_;  // their labels
    std::vector<std::size_t> cluster_by_order_;
    std::vector<double> deepest_by_label_;
};

}  // namespace corvane
