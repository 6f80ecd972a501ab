#include "labels/points_by_cluster.hpp"

#include "common/internal_error.hpp"

namespace corvane {

PointsByCluster group_by_label(std::span<const std::int32_t> labels, std::size_t clusters) {
    PointsByCluster groups;
    groups.begin.assign(clusters + 1, 0);
    for (const std::int32_t label : labels) {
        if (label < 0) continue;
        check_index(static_cast<std::size_t>(label), clusters, "group_by_label: label");
        ++groups.begin[static_cast<std::size_t>(label) + 1];
    }
    for (std::size_t k = 0; k < clusters; ++k)
        groups.begin[k + 1] += groups.begin[k];
    groups.points.resize(groups.begin[clusters]);
    std::vector<std::size_t> next(groups.begin.begin(), groups.begin.end() - 1);
    for (std::size_t p = 0; p < labels.size(); ++p) {
        if (labels[p] >= 0) groups.points[next[static_cast<std::size_t>(labels[p])]++] = p;
    }
    return groups;
}

}  // namespace corvane
