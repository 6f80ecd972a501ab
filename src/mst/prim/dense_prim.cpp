#include <algorithm>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "common/internal_error.hpp"
#include "distance/distance.hpp"
#include "distance/distance_order.hpp"
#include "mst/mutual_reachability.hpp"
#include "mst/prim/prim.hpp"
#include "mst/prim/prim_internal.hpp"

namespace corvane {
namespace {

struct Ranked {
    double distance;
    std::size_t index;
};

// The order of a fully sorted row: by distance with NaN last, then by index.
// It is total, so selecting position k - 1 under it yields exactly the element
// a full sort would put there, signed zeros and NaNs included. A function
// object, so that the selection inlines it.
struct RankedLess {
    bool operator()(const Ranked& a, const Ranked& b) const {
        if (distance_less(a.distance, b.distance)) return true;
        if (distance_less(b.distance, a.distance)) return false;
        return a.index < b.index;
    }
};

// Core distances of `rows`: the value at position k - 1 of each row's distance
// list, distance(i, j) giving the entry for column j. One row of scratch, so
// memory stays linear in n; rows are independent of each other.
template <class RowEntry>
void core_distances_by_selection(std::size_t n, std::size_t k, RowChunk rows,
                                 const RowEntry& distance, std::span<double> core) {
    std::vector<Ranked> scratch(n);
    for (std::size_t i = rows.start; i < rows.end; ++i) {
        for (std::size_t j = 0; j < n; ++j)
            scratch[j] = {distance(i, j), j};
        const auto kth = scratch.begin() + static_cast<std::ptrdiff_t>(k - 1);
        std::nth_element(scratch.begin(), kth, scratch.end(), RankedLess{});
        core[i] = kth->distance;
    }
}

// Prim on the complete mutual-reachability graph, evaluating each pair once,
// when the later of its two vertices joins. pair_distance(lo, hi) is called
// with lo < hi, and the lower-numbered point is the outer operand of the
// maximum, so every weight equals the one a stored symmetric matrix would
// hold. The remaining vertices stay in ascending order (compacted in place),
// which makes the first strictly smaller weight the lowest-numbered one.
template <class PairDistance>
std::vector<MstEdge> dense_prim(std::span<const double> core, double alpha,
                                const PairDistance& pair_distance) {
    const std::size_t n = core.size();
    std::vector<MstEdge> edges;
    if (n <= 1) return edges;
    constexpr double infinity = std::numeric_limits<double>::infinity();

    std::vector<std::size_t> vertex(n - 1);
    std::vector<double> best(n - 1);
    std::vector<std::size_t> nearest(n - 1, 0);
    double lightest = infinity;
    // With no weight below +infinity (a graph disconnected at finite weights)
    // the lowest-numbered remaining vertex joins next: position 0.
    std::size_t chosen = 0;
    for (std::size_t j = 1; j < n; ++j) {
        vertex[j - 1] = j;
        best[j - 1] = mutual_reachability(core[0], core[j], pair_distance(0, j), alpha);
        if (best[j - 1] < lightest) {
            lightest = best[j - 1];
            chosen = j - 1;
        }
    }
    edges.reserve(n - 1);

    std::size_t count = n - 1;
    while (count > 0) {
        const std::size_t v = vertex[chosen];
        edges.push_back({nearest[chosen], v, best[chosen]});
        const double core_v = core[v];
        const std::size_t joined = chosen;
        std::size_t kept = 0;
        lightest = infinity;
        chosen = 0;
        for (std::size_t pos = 0; pos < count; ++pos) {
            if (pos == joined) continue;
            const std::size_t u = vertex[pos];
            double weight = best[pos];
            std::size_t from = nearest[pos];
            // A weight is at least each of its non-NaN core terms, so when one
            // already reaches `weight` the distance need not be evaluated.
            if (!(core_v >= weight) && !(core[u] >= weight)) {
                const double w =
                    u < v ? mutual_reachability(core[u], core_v, pair_distance(u, v), alpha)
                          : mutual_reachability(core_v, core[u], pair_distance(v, u), alpha);
                if (distance_less(w, weight)) {
                    weight = w;
                    from = v;
                }
            }
            vertex[kept] = u;
            best[kept] = weight;
            nearest[kept] = from;
            if (weight < lightest) {
                lightest = weight;
                chosen = kept;
            }
            ++kept;
        }
        count = kept;
    }
    return edges;
}

}  // namespace

MstResult prim_dense_mst(const DataMatrix& data, const Metric& metric, std::size_t k, double alpha,
                         StageClock* clock) {
    const auto core_distances_done = [clock] {
        if (clock != nullptr) clock->lap(&StageTimes::core_distances);
    };
    const std::size_t n = data.rows;
    MstResult result;
    if (n == 0) return result;
    prim_detail::check_neighbour_count(k, n);
    result.core_distances.assign(n, 0.0);

    if (metric.kind == MetricKind::Precomputed) {
        if (data.cols != n) fail_internal("precomputed distance matrix is not square");
        const double* matrix = data.values.data();
        core_distances_by_selection(
            n, k, {0, n}, [&](std::size_t i, std::size_t j) { return matrix[i * n + j]; },
            result.core_distances);
        core_distances_done();
        result.edges =
            dense_prim(result.core_distances, alpha,
                       [&](std::size_t lo, std::size_t hi) { return matrix[lo * n + hi]; });
        return result;
    }

    visit_metric(metric, [&](auto kernel) {
        core_distances_by_selection(
            n, k, {0, n},
            [&](std::size_t i, std::size_t j) {
                return i == j ? 0.0 : kernel(data.row_span(i), data.row_span(j));
            },
            result.core_distances);
        core_distances_done();
        result.edges =
            dense_prim(result.core_distances, alpha, [&](std::size_t lo, std::size_t hi) {
                return kernel(data.row_span(lo), data.row_span(hi));
            });
    });
    return result;
}

}  // namespace corvane
