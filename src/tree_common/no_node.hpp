#pragma once

#include <cstddef>
#include <limits>

namespace corvane {

// Node number of a missing child in the KD-tree and the ball tree, and the
// result of building an empty range.
inline constexpr std::size_t NO_NODE = std::numeric_limits<std::size_t>::max();

}  // namespace corvane
