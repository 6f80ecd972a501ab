#include "condensed_tree/condensed_index.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/internal_error.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

namespace {

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
    index.deepest_point.assign(count - n, 0.0);
    index.last_departure.assign(count - n, 0.0);

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
    // are written here and the points named are marked in n bits.
    std::vector<std::size_t> cluster_edges;
    std::vector<bool> named(with_points ? 0 : n, false);
    for_each_checked(context, 0, tree.size(), [&](std::size_t i) {
        const std::size_t parent = tree.parent(i);
        const std::size_t child = tree.child(i);
        if (parent < n) fail_internal("condensed tree: a point is a parent");
        if (child == n) fail_internal("condensed tree: the root is a child");
        const double lambda = tree.lambda(i);
        double& last = index.last_departure[parent - n];
        if (lambda > last) last = lambda;
        if (child < n) {
            double& deepest = index.deepest_point[parent - n];
            if (std::isfinite(lambda) && lambda > deepest) deepest = lambda;
            if (!with_points) named[child] = true;
        } else {
            if (child <= parent) {
                fail_internal("condensed tree: cluster " + std::to_string(child) +
                              " is not above its parent");
            }
            ++index.child_begin[parent - n + 1];
            cluster_edges.push_back(i);
            if (!with_points) {
                index.parent[child] = parent;
                index.lambda[child] = lambda;
            }
        }
    });
    // One edge for every node but the root, each naming a node that now has a parent:
    // then no node was named twice.
    if (tree.size() != count - 1) {
        fail_internal("condensed tree: " + std::to_string(tree.size()) + " edges over " +
                      std::to_string(count) + " nodes");
    }
    for_each_checked(context, 0, count, [&](std::size_t node) {
        const bool has_parent = node < first
                                    ? named[node]
                                    : node == n || index.parent[node] != CondensedIndex::NO_PARENT;
        if (!has_parent) {
            fail_internal("condensed tree: node " + std::to_string(node) + " has no parent");
        }
    });

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
