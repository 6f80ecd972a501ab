#include "condensed_tree/condense_in_tasks.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "common/index_array.hpp"
#include "common/internal_error.hpp"
#include "common/large_array_allocator.hpp"
#include "condensed_tree/condense_walk.hpp"
#include "parallel/parallel.hpp"
#include "parallel/spawning_tasks.hpp"

namespace corvane {

namespace {

using Node = PreorderLinkage::Node;
using Walk = Condenser<PreorderTree>;

// An edge as a task emits it. A task numbers the clusters as the one walk would if its
// part were the root: the part n, its new clusters n + 1, n + 2, ...
struct TaskEdge {
    std::uint32_t parent;
    std::uint32_t child;
    double lambda;
};

// Where a task's walk reached a part it had handed off: after `edges` of its edges and
// `clusters` of its new clusters.
struct HandOffPoint {
    std::size_t edges;
    std::size_t clusters;
    std::size_t task;
};

struct CondenseTask {
    Node part;
    std::size_t cluster_in_parent = 0;  // the part's cluster by the handing task's numbering
    LargeArray<TaskEdge> edges;
    std::vector<std::size_t> cluster_sizes;  // of its new clusters, in order
    std::vector<HandOffPoint> handed_off;    // in walk order

    // Once every task has run: the totals with every task handed off from this one, in
    // turn, and where they go in the one walk's output.
    std::size_t all_edges = 0;
    std::size_t all_clusters = 0;
    std::size_t first_edge = 0;
    std::size_t first_cluster = 0;       // the one walk's id of its first new cluster
    std::vector<std::size_t> global_id;  // by its numbering - n
};

using Tasks = SpawningTasks<CondenseTask>;

struct TaskOutput {
    CondenseTask& task;
    std::size_t n;

    void push_back(const CondensedEdge& edge) {
        task.edges.push_back({static_cast<std::uint32_t>(edge.parent),
                              static_cast<std::uint32_t>(edge.child), edge.lambda});
        if (edge.child >= n) task.cluster_sizes.push_back(edge.child_size);
    }
};

// Hands off every part of a split with at least `task_points` points but its largest,
// which the walk goes on with: the first largest that the walk reaches, so which part
// stays depends on the split alone.
class HandOffLargeParts {
  public:
    HandOffLargeParts(Tasks& tasks, CondenseTask& task, std::size_t n, std::size_t task_points)
        : tasks_(tasks), task_(task), n_(n), task_points_(task_points) {}

    void hand_off(std::span<Walk::Work> parts) {
        std::size_t largest = parts.size() - 1;
        for (std::size_t i = parts.size() - 1; i-- > 0;) {
            if (parts[i].node.size > parts[largest].node.size) largest = i;
        }
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i == largest || parts[i].node.size < task_points_) continue;
            CondenseTask part;
            part.part = parts[i].node;
            part.cluster_in_parent = parts[i].cluster;
            parts[i].handed_off = tasks_.add(std::move(part));
        }
    }

    void reached(std::size_t task, std::size_t next_cluster) {
        task_.handed_off.push_back({task_.edges.size(), next_cluster - (n_ + 1), task});
    }

  private:
    Tasks& tasks_;
    CondenseTask& task_;
    std::size_t n_;
    std::size_t task_points_;
};

// A stretch of a task's edges that lands in one piece of the result.
struct Stretch {
    std::size_t first_edge;  // in the result
    std::size_t task;
    std::size_t begin;  // in the task's edges
    std::size_t end;
};

// The totals of every task, then where each goes and its clusters' ids in the one walk;
// returns the stretches of the tasks' edges in result order. A task is added after the
// task that hands it off, so counting down meets the handed-off tasks first and counting
// up the handing ones.
std::vector<Stretch> place_tasks(Tasks& tasks, std::size_t n) {
    std::size_t reached = 0;
    for (std::size_t t = tasks.size(); t-- > 0;) {
        CondenseTask& task = tasks[t];
        task.all_edges = task.edges.size();
        task.all_clusters = task.cluster_sizes.size();
        for (const HandOffPoint& point : task.handed_off) {
            task.all_edges += tasks[point.task].all_edges;
            task.all_clusters += tasks[point.task].all_clusters;
        }
        reached += task.handed_off.size();
    }
    if (reached + 1 != tasks.size()) fail_internal("condense: a handed-off part was not reached");

    tasks[0].first_cluster = n + 1;
    tasks[0].global_id = {n};
    std::vector<Stretch> stretches;
    for (std::size_t t = 0; t < tasks.size(); ++t) {
        CondenseTask& task = tasks[t];
        // The handed-off tasks reached before a cluster was numbered take their ids first.
        task.global_id.resize(task.cluster_sizes.size() + 1);
        std::size_t before = 0;
        auto point = task.handed_off.begin();
        for (std::size_t own = 1; own < task.global_id.size(); ++own) {
            for (; point != task.handed_off.end() && point->clusters < own; ++point)
                before += tasks[point->task].all_clusters;
            task.global_id[own] = task.first_cluster + own - 1 + before;
        }
        std::size_t edges_before = 0;
        std::size_t clusters_before = 0;
        std::size_t begin = 0;
        const auto add_stretch = [&](std::size_t end) {
            if (end > begin)
                stretches.push_back({task.first_edge + begin + edges_before, t, begin, end});
            begin = end;
        };
        for (const HandOffPoint& handed : task.handed_off) {
            add_stretch(handed.edges);
            CondenseTask& part = tasks[handed.task];
            part.first_edge = task.first_edge + handed.edges + edges_before;
            part.first_cluster = task.first_cluster + handed.clusters + clusters_before;
            part.global_id = {task.global_id[part.cluster_in_parent - n]};
            edges_before += part.all_edges;
            clusters_before += part.all_clusters;
        }
        add_stretch(task.edges.size());
    }
    std::sort(stretches.begin(), stretches.end(),
              [](const Stretch& a, const Stretch& b) { return a.first_edge < b.first_edge; });
    return stretches;
}

// Copies the edges of every task into place, the threads of `context` taking a run of the
// result's edges each.
void copy_edges(const Tasks& tasks, std::span<const Stretch> stretches, std::size_t n,
                PackedCondensedTree& result, const ExecutionContext& context) {
    for_each_row_chunk(context, result.size(), [&](RowChunk chunk) {
        auto stretch = std::upper_bound(
                           stretches.begin(), stretches.end(), chunk.start,
                           [](std::size_t edge, const Stretch& s) { return edge < s.first_edge; }) -
                       1;
        for (std::size_t at = chunk.start; at < chunk.end; ++stretch) {
            const CondenseTask& task = tasks[stretch->task];
            const std::size_t from = stretch->begin + (at - stretch->first_edge);
            const std::size_t to = std::min(stretch->end, from + (chunk.end - at));
            for (std::size_t i = from; i < to; ++i, ++at) {
                const TaskEdge& edge = task.edges[i];
                const std::size_t child =
                    edge.child < n ? edge.child : task.global_id[edge.child - n];
                result.fill_edge(at, task.global_id[edge.parent - n], child, edge.lambda);
            }
        }
    });
}

}  // namespace

PackedCondensedTree condense_in_tasks(const PreorderLinkage& tree, std::size_t min_cluster_size,
                                      std::size_t task_points, const ExecutionContext& context) {
    const std::size_t n = tree.points();
    if (tree.empty() || !narrow_indices_fit(2 * n))
        return condense_in_one_walk(tree, min_cluster_size, context);

    const PreorderTree preorder{tree};
    Tasks tasks;
    CondenseTask whole;
    whole.part = tree.root();
    tasks.add(std::move(whole));
    tasks.run(context, context.threads(), [&](std::size_t, CondenseTask& task) {
        task.edges.reserve(task.part.size + task.part.size / min_cluster_size);
        TaskOutput out{task, n};
        HandOffLargeParts split(tasks, task, n, task_points);
        Walk(preorder, n, min_cluster_size, context).run(out, {task.part, n}, n + 1, split);
    });
    context.check();

    const std::vector<Stretch> stretches = place_tasks(tasks, n);
    const std::size_t edges = tasks[0].all_edges;
    const std::size_t clusters = tasks[0].all_clusters;
    // One edge for every node but the root.
    if (edges != n + clusters) fail_internal("condense: the tasks do not cover every node once");
    PackedCondensedTree result(n);
    result.resize_for_filling(edges, n + 1 + clusters);
    copy_edges(tasks, stretches, n, result, context);
    for (std::size_t t = 0; t < tasks.size(); ++t) {
        const CondenseTask& task = tasks[t];
        for (std::size_t own = 1; own < task.global_id.size(); ++own)
            result.fill_cluster_size(task.global_id[own], task.cluster_sizes[own - 1]);
    }
    return result;
}

}  // namespace corvane
