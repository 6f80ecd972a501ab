#include "mst/dual_tree_boruvka/parallel_search.hpp"

#include <algorithm>

#include "mst/dual_tree_boruvka/node_summaries.hpp"
#include "parallel/parallel.hpp"
#include "search_space/tree_spaces.hpp"
#include "tree_common/bottom_up.hpp"

namespace corvane {

template <class Tree, class Space>
ParallelSearch<Tree, Space>::ParallelSearch(const Tree& tree, std::size_t threads,
                                            const ExecutionContext& context)
    : tree_(tree), context_(context), tasks_(collect_subtrees(tree, SEARCH_TASKS)) {
    workers_count_ = std::min(threads, tasks_.size());
    workers_.resize(workers_count_);
    changes_.resize(tasks_.size());
    task_end_.reserve(tasks_.size());
    for (const std::size_t root : tasks_)
        task_end_.push_back(subtree_end(tree, root));
    // The subtrees come in preorder, so the nodes above them are the gaps between their
    // ranges; listed from the last node down, children come before parents.
    std::size_t next = 0;
    for (std::size_t t = 0; t < tasks_.size(); ++t) {
        for (std::size_t node = next; node < tasks_[t]; ++node)
            top_nodes_.push_back(node);
        next = task_end_[t];
    }
    for (std::size_t node = next; node < tree.nodes.size(); ++node)
        top_nodes_.push_back(node);
    std::reverse(top_nodes_.begin(), top_nodes_.end());
    witness_.resize(tree.nodes.size());
    for (std::size_t node = 0; node < tree.nodes.size(); ++node)
        witness_[node] = tree.nodes[node].start;
}

template <class Tree, class Space>
template <class Fill>
void ParallelSearch<Tree, Space>::fill_nodes(const Fill& fill) {
    run_task_queue(context_, workers_count_, tasks_.size(),
                   [&](std::size_t, std::size_t t) { fill(tasks_[t], task_end_[t]); });
    for (const std::size_t node : top_nodes_)
        fill(node, node + 1);
}

template <class Tree, class Space>
void ParallelSearch<Tree, Space>::compute_min_core(std::span<const double> position_core,
                                                   std::vector<double>& node_min_core) {
    node_min_core.resize(tree_.nodes.size());
    fill_nodes([&](std::size_t first, std::size_t last) {
        smallest_per_node(tree_, position_core, std::span<double>(node_min_core), first, last);
    });
}

template <class Tree, class Space>
void ParallelSearch<Tree, Space>::summarise(BoruvkaSearchState<Space>& state,
                                            std::span<const BoruvkaCandidate> candidates,
                                            std::vector<double>& node_bound) {
    state.node_component.resize(tree_.nodes.size());
    node_bound.resize(tree_.nodes.size());
    fill_nodes([&](std::size_t first, std::size_t last) {
        summarise_nodes(tree_, state.position_component, state.position_core, candidates,
                        std::span<std::size_t>(state.node_component), std::span<double>(node_bound),
                        first, last);
    });
}

template <class Tree, class Space>
void ParallelSearch<Tree, Space>::search(const BoruvkaSearchState<Space>& state,
                                         std::vector<BoruvkaCandidate>& candidates,
                                         std::span<double> node_bound) {
    if (tasks_.size() == 1) {
        dual_tree_search(tree_, state, tasks_.front(), 0,
                         {candidates, node_bound, nullptr, {}, witness_}, context_);
        return;
    }
    const std::vector<BoruvkaCandidate>& shared = candidates;
    for (Worker& worker : workers_)
        worker.ready = false;
    shared_bound_.resize(shared.size());
    for (std::size_t c = 0; c < shared.size(); ++c)
        shared_bound_[c] = shared[c].weight;
    run_task_queue(context_, workers_count_, tasks_.size(), [&](std::size_t w, std::size_t t) {
        Worker& worker = workers_[w];
        if (!worker.ready) {
            worker.table.assign(shared.begin(), shared.end());
            worker.journal.reset(shared.size());
            worker.ready = true;
        }
        dual_tree_search(tree_, state, tasks_[t], 0,
                         {worker.table, node_bound, &worker.journal, shared_bound_, witness_},
                         context_);
        auto& changes = changes_[t];
        changes.clear();
        for (const std::size_t c : worker.journal.changed()) {
            changes.push_back({c, worker.table[c]});
            worker.table[c] = shared[c];
        }
        worker.journal.clear();
    });
    for (const auto& changes : changes_) {
        for (const auto& [c, candidate] : changes) {
            if (candidate.weight < candidates[c].weight) candidates[c] = candidate;
        }
    }
}

#define CORVANE_INSTANTIATE(TREE, SPACE) template class ParallelSearch<TREE, SPACE>;
CORVANE_FOR_EACH_TREE_SPACE(CORVANE_INSTANTIATE)
#undef CORVANE_INSTANTIATE

}  // namespace corvane
