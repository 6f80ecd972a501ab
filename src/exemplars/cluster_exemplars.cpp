#include "exemplars/cluster_exemplars.hpp"

#include <limits>
#include <vector>

#include "common/internal_error.hpp"

namespace corvane {

PointsByCluster cluster_exemplars(const CondensedIndex& index, std::span<const std::int32_t> labels,
                                  std::size_t clusters) {
    const std::size_t n = index.n;
    if (labels.size() != n) fail_internal("cluster_exemplars: one label per point");
    if (index.empty()) return group_by_label(std::vector<std::int32_t>(n, -1), clusters);

    // Largest point lambda per cluster; lambdas are never NaN (they are reciprocals of
    // distances that are not).
    std::vector<double> deepest(index.end() - n, -std::numeric_limits<double>::infinity());
    for (std::size_t p = 0; p < n; ++p) {
        double& slot = deepest[index.parent[p] - n];
        if (index.lambda[p] > slot) slot = index.lambda[p];
    }
    std::vector<std::int32_t> exemplar_labels(n, -1);
    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t leaf = index.parent[p];
        if (labels[p] >= 0 && index.children_of(leaf).empty() &&
            index.lambda[p] == deepest[leaf - n]) {
            exemplar_labels[p] = labels[p];
        }
    }
    return group_by_label(exemplar_labels, clusters);
}

}  // namespace corvane
