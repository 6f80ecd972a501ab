#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "common/index_array.hpp"

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

// The lambda of a merge at `distance`: 1 / distance, +infinity for a distance that is not
// greater than 0 (NaN included).
inline double merge_lambda(double distance) {
    return distance > 0.0 ? 1.0 / distance : std::numeric_limits<double>::infinity();
}

// Rows in creation order (non-increasing lambda). For n connected points
// there are n - 1 rows and the last one is the root; one point gives none.
struct SingleLinkageTree {
    std::vector<LinkageRow> rows;
};

// The rows of a single-linkage tree as a fit lays them out in pre-order: per row, in
// creation order, its two sides as LinkageRow names them, the number of points under
// each and the smallest point under the row, 4 bytes each while n allows. The lambdas
// are left to the spanning tree whose edge i made row i.
struct LinkedRows {
    // Room for n - 1 rows: rows past size() are zeros.
    IndexArray left;
    IndexArray right;
    IndexArray left_size;
    IndexArray right_size;
    IndexArray smallest;

    LinkedRows() = default;
    // No rows yet, room for the n - 1 rows over n points: allocated at full length, so
    // that adding a row is five stores.
    explicit LinkedRows(std::size_t n);

    std::size_t size() const { return rows_; }
    void push_back(std::size_t left_node, std::size_t right_node, std::size_t left_points,
                   std::size_t right_points, std::size_t smallest_point) {
        left.set(rows_, left_node);
        right.set(rows_, right_node);
        left_size.set(rows_, left_points);
        right_size.set(rows_, right_points);
        smallest.set(rows_, smallest_point);
        ++rows_;
    }

  private:
    std::size_t rows_ = 0;
};

}  // namespace corvane
