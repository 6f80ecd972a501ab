#pragma once

#include <cstddef>
#include <vector>

namespace corvane {

// One successful union of the first linkage pass: `low < high` are the
// representatives (point indices) of the two sets at the moment of the merge.
struct MergeRecord {
    std::size_t low = 0;
    std::size_t high = 0;
    double distance = 0.0;

    friend bool operator==(const MergeRecord&, const MergeRecord&) = default;
};

// One row of the single-linkage tree. Row i creates node n + i; ids below n
// are points. `left` is the node holding the smaller first-pass
// representative, `right` the other one. `lambda` is 1 / distance, +infinity
// for a distance that is not greater than 0.
struct LinkageRow {
    std::size_t left = 0;
    std::size_t right = 0;
    double lambda = 0.0;
    std::size_t size = 0;

    friend bool operator==(const LinkageRow&, const LinkageRow&) = default;
};

// Rows in creation order (non-increasing lambda). For n connected points
// there are n - 1 rows and the last one is the root; one point gives none.
struct SingleLinkageTree {
    std::vector<LinkageRow> rows;
};

}  // namespace corvane
