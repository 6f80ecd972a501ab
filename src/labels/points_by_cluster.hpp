#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace corvane {

// Lists of points, one per cluster, in one flat array: the points of cluster k are
// points[begin[k] .. begin[k + 1]), in ascending order.
struct PointsByCluster {
    std::vector<std::size_t> begin;  // clusters() + 1 offsets
    std::vector<std::size_t> points;

    std::size_t clusters() const { return begin.empty() ? 0 : begin.size() - 1; }
    std::span<const std::size_t> of(std::size_t cluster) const {
        return std::span<const std::size_t>(points).subspan(begin[cluster],
                                                            begin[cluster + 1] - begin[cluster]);
    }
};

// The points of each of `clusters` clusters by their label (negative labels belong to
// none). A label of `clusters` or more throws InternalError.
PointsByCluster group_by_label(std::span<const std::int32_t> labels, std::size_t clusters);

}  // namespace corvane
