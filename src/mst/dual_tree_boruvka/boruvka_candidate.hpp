#pragma once

#include <cstddef>
#include <limits>

namespace corvane {

// The cheapest known edge leaving one component: `from` lies inside the component,
// `to` outside it, both given as tree positions. A weight of +infinity means that no
// edge is known yet.
struct BoruvkaCandidate {
    double weight_sq = std::numeric_limits<double>::infinity();
    std::size_t from = 0;
    std::size_t to = 0;
};

// Label of a tree node whose points do not all belong to one component.
inline constexpr std::size_t NO_COMPONENT = std::numeric_limits<std::size_t>::max();

}  // namespace corvane
