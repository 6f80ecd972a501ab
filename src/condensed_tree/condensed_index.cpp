#include "condensed_tree/condensed_index.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "common/internal_error.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

namespace {

// What one stretch of edges [begin, end) gives: the largest lambdas by cluster, the
// points it names, its cluster edges in order. Throws InternalError at its first broken
// edge.
struct EdgeScan {
    std::vector<double> last_departure;  // by cluster - n
    std::vector<double> deepest_point;   // by cluster - n
    std::vector<std::uint64_t> named;    // a bit per point, when the index leaves them out
    std::vector<std::size_t> cluster_edges;

    EdgeScan(std::size_t clusters, std::size_t named_points)
        : last_departure(clusters, 0.0),
          deepest_point(clusters, 0.0),
          named((named_points + 63) / 64, 0) {}

    void scan(const PackedCondensedTree& tree, std::size_t begin, std::size_t end,
              const ExecutionContext& context) {
        const std::size_t n = tree.points();
        const bool mark_points = !named.empty();
        for_each_checked(context, begin, end, [&](std::size_t i) {
            const std::size_t parent = tree.parent(i);
            const std::size_t child = tree.child(i);
            if (parent < n) fail_internal("condensed tree: a point is a parent");
            if (child == n) fail_internal("condensed tree: the root is a child");
            const double lambda = tree.lambda(i);
            double& last = last_departure[parent - n];
            if (lambda > last) last = lambda;
            if (child < n) {
                double& deepest = deepest_point[parent - n];
                if (std::isfinite(lambda) && lambda > deepest) deepest = lambda;
                if (mark_points) named[child / 64] |= std::uint64_t{1} << (child % 64);
            } else {
                if (child <= parent) {
                    fail_internal("condensed tree: cluster " + std::to_string(child) +
                                  " is not above its parent");
                }
                cluster_edges.push_back(i);
            }
        });
    }

    // Takes in a later stretch's scan. The largest of the same values is the same in any
    // order.
    void join(const EdgeScan& later) {
        for (std::size_t c = 0; c < last_departure.size(); ++c) {
            last_departure[c] = std::max(last_departure[c], later.last_departure[c]);
            deepest_point[c] = std::max(deepest_point[c], later.deepest_point[c]);
        }
        for (std::size_t w = 0; w < named.size(); ++w)
            named[w] |= later.named[w];
        cluster_edges.insert(cluster_edges.end(), later.cluster_edges.begin(),
                             later.cluster_edges.end());
    }
};

// The scan of every edge, the threads of `context` taking a stretch each when their
// tables by cluster together take at most half the edges' memory. The first broken edge
// is reported as one stream would report it: the stretches come in edge order.
EdgeScan scan_edges(const PackedCondensedTree& tree, std::size_t clusters, std::size_t named_points,
                    const ExecutionContext& context) {
    const std::size_t threads =
        tree.size() < PARALLEL_MIN_SHORT_STEPS || clusters * context.threads() > tree.size() / 2
            ? 1
            : context.threads();
    // One stretch, for one thread, runs on the calling thread.
    const std::vector<RowChunk> stretches = split_rows(tree.size(), threads);
    std::vector<EdgeScan> scans(stretches.size(), EdgeScan(clusters, named_points));
    run_tasks(context, stretches.size(), [&](std::size_t t) {
        scans[t].scan(tree, stretches[t].start, stretches[t].end, context);
    });
    for (std::size_t t = 1; t < scans.size(); ++t)
        scans[0].join(scans[t]);
    return std::move(scans[0]);
}

// The first of n points whose bit is not set, or n.
std::size_t first_unnamed(const std::vector<std::uint64_t>& named, std::size_t n) {
    for (std::size_t w = 0; w < named.size(); ++w) {
        if (named[w] != ~std::uint64_t{0})
            return std::min(n, w * 64 + static_cast<std::size_t>(std::countr_one(named[w])));
    }
    return n;
}

// The index, with the points' parents and lambdas or without them.
CondensedIndex build_index(const PackedCondensedTree& tree, bool with_points,
                           const ExecutionContext& context) {
    const std::size_t n = tree.points();
    CondensedIndex index;
    index.n = n;
    if (tree.empty()) return index;

    const std::size_t count = std::max(tree.node_count(), n + 1);
    const std::size_t first = with_points ? 0 : n;
    index.node_count = count;
    index.parent.assign(first, count - first, CondensedIndex::NO_PARENT);
    index.lambda.assign(first, count - first, 0.0);
    index.child_begin.assign(count - n + 1, 0);

    // Every node's parent and lambda. Points are most of the edges and land at scattered
    // ids, fetched ahead. Each thread reads every edge and writes the nodes of its own
    // stretch of ids, so a node named twice (a broken tree, rejected below) is written by
    // one thread in edge order, as by a single thread.
    const auto write_nodes = [&](std::size_t low, std::size_t high) {
        constexpr std::size_t ahead = 16;
        for_each_checked(context, 0, tree.size(), [&](std::size_t i) {
            if (i + ahead < tree.size()) {
                const std::size_t later = tree.child(i + ahead);
                if (later >= low && later < high) {
                    __builtin_prefetch(&index.parent[later], 1);
                    __builtin_prefetch(&index.lambda[later], 1);
                }
            }
            const std::size_t child = tree.child(i);
            if (child < low || child >= high) return;
            index.parent[child] = tree.parent(i);
            index.lambda[child] = tree.lambda(i);
        });
    };
    const std::size_t threads = tree.size() < PARALLEL_MIN_SHORT_STEPS ? 1 : context.threads();
    if (with_points && threads < 2) {
        write_nodes(0, count);
    } else if (with_points) {
        run_tasks(context, threads, [&](std::size_t t) {
            write_nodes(count * t / threads, count * (t + 1) / threads);
        });
    }

    // The checks and what is kept by cluster, in one stream over the edges; the few cluster
    // edges are listed for the children below. Without the points, the clusters' parents
    // are written from that list and the points named are marked in n bits.
    EdgeScan scan = scan_edges(tree, count - n, with_points ? 0 : n, context);
    // One edge for every node but the root, each naming a node that now has a parent:
    // then no node was named twice.
    if (tree.size() != count - 1) {
        fail_internal("condensed tree: " + std::to_string(tree.size()) + " edges over " +
                      std::to_string(count) + " nodes");
    }
    const std::vector<std::size_t>& cluster_edges = scan.cluster_edges;
    if (!with_points) {
        for_each_checked(context, 0, cluster_edges.size(), [&](std::size_t k) {
            const std::size_t i = cluster_edges[k];
            index.parent[tree.child(i)] = tree.parent(i);
            index.lambda[tree.child(i)] = tree.lambda(i);
        });
    }
    const auto no_parent = [](std::size_t node) {
        fail_internal("condensed tree: node " + std::to_string(node) + " has no parent");
    };
    if (with_points) {
        for_each_checked(context, 0, n, [&](std::size_t point) {
            if (index.parent[point] == CondensedIndex::NO_PARENT) no_parent(point);
        });
    } else if (const std::size_t point = first_unnamed(scan.named, n); point < n) {
        no_parent(point);
    }
    for_each_checked(context, n + 1, count, [&](std::size_t node) {
        if (index.parent[node] == CondensedIndex::NO_PARENT) no_parent(node);
    });
    index.last_departure = std::move(scan.last_departure);
    index.deepest_point = std::move(scan.deepest_point);
    for (const std::size_t i : cluster_edges)
        ++index.child_begin[tree.parent(i) - n + 1];

    for_each_checked(context, 1, index.child_begin.size(),
                     [&](std::size_t i) { index.child_begin[i] += index.child_begin[i - 1]; });
    index.children.resize(index.child_begin.back());
    std::vector<std::size_t> fill(index.child_begin.begin(), index.child_begin.end() - 1);
    for_each_checked(context, 0, cluster_edges.size(), [&](std::size_t k) {
        const std::size_t i = cluster_edges[k];
        index.children[fill[tree.parent(i) - n]++] = tree.child(i);
    });
    return index;
}

}  // namespace

CondensedIndex index_condensed_tree(const PackedCondensedTree& tree,
                                    const ExecutionContext& context) {
    return build_index(tree, true, context);
}

CondensedIndex index_condensed_clusters(const PackedCondensedTree& tree,
                                        const ExecutionContext& context) {
    return build_index(tree, false, context);
}

}  // namespace corvane
