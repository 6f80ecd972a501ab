#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "cluster_centres/cluster_centres.hpp"
#include "cluster_centres/compensated_sum.hpp"
#include "cluster_centres/medoid_ties.hpp"
#include "cluster_centres/norm_medoid.hpp"
#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "parallel/parallel.hpp"

namespace corvane {
namespace {

// One cluster: its points in ascending order and their weights.
struct Cluster {
    std::span<const std::size_t> points;
    std::vector<double> weights;
    double total_weight = 0.0;

    Cluster(std::span<const std::size_t> members, std::span<const double> all_weights)
        : points(members), weights(members.size()) {
        CompensatedSum total;
        for (std::size_t j = 0; j < members.size(); ++j) {
            weights[j] = all_weights[members[j]];
            total.add(weights[j]);
        }
        total_weight = total.value();
    }
};

// Sums measured one by one read each point of the cluster once for this many candidates.
constexpr std::size_t MEASURED_TOGETHER = 16;

// S(m) for the positions `block` (at most MEASURED_TOGETHER) of `cluster`: each a
// compensated sum over the other points in ascending order, so that a sum does not depend
// on the block it was measured in.
void measure_block(const DataMatrix& data, const Metric& metric, const Cluster& cluster,
                   std::span<const std::size_t> block, std::span<double> sums) {
    CompensatedSum totals[MEASURED_TOGETHER];
    const auto add_terms = [&](auto distance_to) {
        for (std::size_t j = 0; j < cluster.points.size(); ++j) {
            for (std::size_t b = 0; b < block.size(); ++b) {
                if (block[b] != j) totals[b].add(cluster.weights[j] * distance_to(b, j));
            }
        }
    };
    if (metric.kind == MetricKind::Precomputed) {
        add_terms([&](std::size_t b, std::size_t j) {
            return data.at(cluster.points[block[b]], cluster.points[j]);
        });
    } else {
        visit_metric(metric, [&](auto kernel) {
            add_terms([&](std::size_t b, std::size_t j) {
                return kernel(data.row_span(cluster.points[block[b]]),
                              data.row_span(cluster.points[j]));
            });
        });
    }
    for (std::size_t b = 0; b < block.size(); ++b)
        sums[b] = totals[b].value();
}

// S(m) = W - u_m . U over the points that are not zero vectors (see exact_medoids); a zero
// vector, at distance 0 from everything, has S = 0. Norms are summed as the cosine
// kernel sums them, so the same rows are zero vectors here and there.
MedoidSearch cosine_search(const DataMatrix& data, const Cluster& cluster) {
    const std::size_t columns = data.cols;
    const std::size_t count = cluster.points.size();
    std::vector<double> inverse_norm(count, 0.0);
    std::vector<CompensatedSum> unit_sum(columns);
    CompensatedSum weight;
    for (std::size_t j = 0; j < count; ++j) {
        const double* row = data.row(cluster.points[j]);
        double squares = 0.0;
        for (std::size_t i = 0; i < columns; ++i)
            squares += row[i] * row[i];
        if (squares == 0.0) continue;
        inverse_norm[j] = 1.0 / std::sqrt(squares);
        weight.add(cluster.weights[j]);
        for (std::size_t i = 0; i < columns; ++i)
            unit_sum[i].add(cluster.weights[j] * (row[i] * inverse_norm[j]));
    }
    std::vector<double> unit_total(columns);
    for (std::size_t i = 0; i < columns; ++i)
        unit_total[i] = unit_sum[i].value();

    MedoidSearch search;
    for (std::size_t j = 0; j < count; ++j) {
        if (inverse_norm[j] == 0.0) {
            search.measured.add(j, 0.0);
            continue;
        }
        const double* row = data.row(cluster.points[j]);
        double dot = 0.0;
        for (std::size_t i = 0; i < columns; ++i)
            dot += (row[i] * inverse_norm[j]) * unit_total[i];
        search.measured.add(j, std::max(0.0, weight.value() - dot));
    }
    return search;
}

MedoidSearch norm_search(const DataMatrix& data, const Metric& metric, const Cluster& cluster,
                         const SumTolerance& tolerance, const ExecutionContext& context) {
    const std::size_t columns = data.cols;
    std::vector<double> rows(cluster.points.size() * columns);
    for (std::size_t j = 0; j < cluster.points.size(); ++j)
        std::copy_n(data.row(cluster.points[j]), columns, rows.begin() + j * columns);
    return norm_medoid_search(rows, columns, cluster.weights, metric, tolerance, context);
}

MedoidSearch unsearched(const Cluster& cluster) {
    MedoidSearch search;
    search.unresolved.resize(cluster.points.size());
    std::iota(search.unresolved.begin(), search.unresolved.end(), std::size_t{0});
    return search;
}

// The three stages shared by every route: `search_of` (one cluster at a time, spread over
// the threads, largest clusters first) measures what it can and leaves the rest
// unresolved; the unresolved positions of all clusters are measured, spread over the
// threads; the tie rule picks each medoid. No result depends on the threads.
template <class SearchOf>
std::vector<std::size_t> find_medoids(const DataMatrix& data, const Metric& metric,
                                      const PointsByCluster& clusters,
                                      std::span<const double> weights,
                                      const ExecutionContext& context, const SearchOf& search_of) {
    if (weights.size() != data.rows) fail_internal("medoids: one weight per row");
    const std::size_t count = clusters.clusters();
    std::vector<Cluster> members;
    std::vector<SumTolerance> tolerances;
    members.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        members.emplace_back(clusters.of(k), weights);
        tolerances.push_back(sum_tolerance(metric, data.cols, members.back().total_weight));
    }

    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return members[a].points.size() > members[b].points.size();
    });
    std::vector<MedoidSearch> searches(count);
    run_task_queue(context, context.threads(), count, [&](std::size_t, std::size_t task) {
        const std::size_t k = order[task];
        if (!members[k].points.empty()) searches[k] = search_of(members[k], tolerances[k]);
    });

    // The unresolved positions of all clusters in one list, cluster by cluster, spread
    // over the threads; each piece measures its positions in blocks of one cluster.
    std::vector<std::size_t> first(count + 1, 0);  // of each cluster's positions in the list
    for (std::size_t k = 0; k < count; ++k)
        first[k + 1] = first[k] + searches[k].unresolved.size();
    std::vector<double> sums(first[count]);
    for_each_row_chunk(context, first[count], [&](RowChunk chunk) {
        std::size_t k = static_cast<std::size_t>(
            std::upper_bound(first.begin(), first.end(), chunk.start) - first.begin() - 1);
        for (std::size_t i = chunk.start; i < chunk.end;) {
            while (first[k + 1] <= i)
                ++k;
            const std::size_t size = std::min({MEASURED_TOGETHER, chunk.end - i, first[k + 1] - i});
            measure_block(
                data, metric, members[k],
                std::span<const std::size_t>(searches[k].unresolved).subspan(i - first[k], size),
                std::span<double>(sums).subspan(i, size));
            i += size;
        }
    });

    std::vector<std::size_t> medoids(count, NO_MEDOID);
    for (std::size_t k = 0; k < count; ++k) {
        if (members[k].points.empty()) continue;
        MedoidSearch& search = searches[k];
        for (std::size_t i = 0; i < search.unresolved.size(); ++i)
            search.measured.add(search.unresolved[i], sums[first[k] + i]);
        medoids[k] = members[k].points[search.measured.pick(tolerances[k])];
    }
    return medoids;
}

}  // namespace

std::vector<std::size_t> exact_medoids(const DataMatrix& data, const Metric& metric,
                                       const PointsByCluster& clusters,
                                       std::span<const double> weights,
                                       const ExecutionContext& context) {
    return find_medoids(data, metric, clusters, weights, context,
                        [&](const Cluster& cluster, const SumTolerance& tolerance) {
                            switch (metric.kind) {
                                case MetricKind::Precomputed:
                                    return unsearched(cluster);
                                case MetricKind::Cosine:
                                    return cosine_search(data, cluster);
                                default:
                                    return norm_search(data, metric, cluster, tolerance, context);
                            }
                        });
}

std::vector<std::size_t> medoids_by_brute_force(const DataMatrix& data, const Metric& metric,
                                                const PointsByCluster& clusters,
                                                std::span<const double> weights) {
    const ExecutionContext one_thread(1);
    return find_medoids(
        data, metric, clusters, weights, one_thread,
        [](const Cluster& cluster, const SumTolerance&) { return unsearched(cluster); });
}

}  // namespace corvane
