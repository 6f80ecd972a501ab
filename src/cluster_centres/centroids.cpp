#include "cluster_centres/cluster_centres.hpp"

#include "common/internal_error.hpp"

namespace corvane {

DataMatrix weighted_centroids(const DataMatrix& data, const PointsByCluster& clusters,
                              std::span<const double> weights) {
    if (weights.size() != data.rows) fail_internal("weighted_centroids: one weight per row");
    const std::size_t columns = data.cols;
    DataMatrix centroids(clusters.clusters(), columns);
    for (std::size_t k = 0; k < clusters.clusters(); ++k) {
        double* const centre = centroids.row(k);
        double total = 0.0;
        for (const std::size_t p : clusters.of(k)) {
            total += weights[p];
            for (std::size_t i = 0; i < columns; ++i)
                centre[i] += weights[p] * data.at(p, i);
        }
        if (!(total > 0.0)) {
            // Membership probabilities of members are positive; only an underflow to 0
            // leaves no weight, and then every member counts alike.
            std::fill(centre, centre + columns, 0.0);
            for (const std::size_t p : clusters.of(k)) {
                for (std::size_t i = 0; i < columns; ++i)
                    centre[i] += data.at(p, i);
            }
            total = static_cast<double>(clusters.of(k).size());
        }
        for (std::size_t i = 0; i < columns; ++i)
            centre[i] /= total;
    }
    return centroids;
}

}  // namespace corvane
