#pragma once

#include <vector>

#include "common/data_matrix.hpp"
#include "condensed_tree/condensed_tree.hpp"
#include "model/fitted_model.hpp"

namespace corvane {

// A fitted model's hierarchy as flat tables in the units of the data (the model's
// distances shifted back by distance_units()), built on each call from what the model
// keeps; nothing is cached. For n points there are n - 1 rows of spanning tree and
// single-linkage tree (none for one point).

// The single-linkage tree in SciPy's linkage format: row i is (left, right, distance,
// size) of the merge that creates node n + i, node ids below n being points. Rows follow
// the model's merge order, so distances never decrease, and merges at one distance stay
// separate rows in that order; the distance of row i is the weight of spanning-tree edge
// i, so the two tables agree exactly.
DataMatrix single_linkage_matrix(const FittedModel& model);

// The minimum spanning tree of the mutual-reachability graph: rows (point, point,
// distance) in merge order, which sorts them by distance.
DataMatrix spanning_tree_table(const FittedModel& model);

// The condensed tree's edges in emission order, lambdas in reciprocal data units.
CondensedTree condensed_edges(const FittedModel& model);

// The core distance of every point.
std::vector<double> core_distances(const FittedModel& model);

}  // namespace corvane
