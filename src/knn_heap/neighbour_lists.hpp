#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace corvane {

// Row numbers in neighbour lists. At 32 bits the lists, the largest array the searches
// before the spanning tree hold (k - 1 entries per point), take half the bytes.
using NeighbourRow = std::uint32_t;

// Lists are kept for matrices of at most this many rows. No row of such a matrix has this
// number, so it also marks an entry that names no row.
inline constexpr std::size_t NEIGHBOUR_LIST_MAX_ROWS = std::numeric_limits<NeighbourRow>::max();

// How neighbour lists name points. By input row: list i belongs to input row i and names
// input rows. By tree position: list p belongs to the point at position p of the tree the
// search walked and names positions, so that a pass over the tree's points in order reads
// the lists in order too, and their entries mostly near it.
enum class ListNaming { input_rows, tree_positions };

// The n x per_point row-major neighbour lists of a core-distance search, as the spanning
// tree searches take them over to seed from. Empty: no lists (none were asked for, or the
// matrix has more rows than NEIGHBOUR_LIST_MAX_ROWS).
struct NeighbourLists {
    NeighbourLists() = default;
    NeighbourLists(std::vector<NeighbourRow> lists, ListNaming how = ListNaming::input_rows)
        : rows(std::move(lists)), naming(how) {}

    // Lists written with full-width row numbers; a number beyond 32 bits names no row of
    // a matrix that can have lists, so it becomes NEIGHBOUR_LIST_MAX_ROWS.
    NeighbourLists(const std::vector<std::size_t>& wide) {
        rows.reserve(wide.size());
        for (const std::size_t row : wide) {
            rows.push_back(static_cast<NeighbourRow>(std::min(row, NEIGHBOUR_LIST_MAX_ROWS)));
        }
    }

    std::vector<NeighbourRow> rows;
    ListNaming naming = ListNaming::input_rows;
};

}  // namespace corvane
