#pragma once

#include <cstddef>

namespace corvane {

// Number of nodes of a tree over `count` rows in which every range of more than
// `leaf_size` rows (leaf_size >= 1) is cut into count / 2 and count - count / 2 rows.
//
// Ranges at depth s hold floor(count / 2^s) or that plus one rows. At the first depth s
// where the smaller size a is at most leaf_size, every range is a leaf, except that when
// a == leaf_size the r = count - a * 2^s ranges of leaf_size + 1 rows split once more.
inline std::size_t tree_node_count(std::size_t count, std::size_t leaf_size) {
    if (count == 0) return 0;
    std::size_t depth = 0;
    while ((count >> depth) > leaf_size)
        ++depth;
    const std::size_t a = count >> depth;
    const std::size_t r = count - (a << depth);
    const std::size_t leaves = (std::size_t{1} << depth) + (a == leaf_size ? r : 0);
    return 2 * leaves - 1;
}

}  // namespace corvane
