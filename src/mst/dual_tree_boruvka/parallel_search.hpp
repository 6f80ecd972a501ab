#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "mst/dual_tree_boruvka/dual_tree_search.hpp"

namespace corvane {

// The per-iteration work of dual-tree Boruvka that touches every node or every point,
// spread over up to `threads` workers, which check `context` for interruption. The query tree is
// cut once into a fixed list of disjoint subtrees, the tasks (collect_subtrees with SEARCH_TASKS);
// the workers take them from a queue, and with a single worker they run in turn on the calling
// thread.
//
// Node summaries are filled per task subtree, then for the few nodes above the subtrees.
// In a search every task searches its subtree against the whole tree. Each worker owns
// one private copy of the candidate table for the whole run. A task starts from the
// shared table as it was before the search, its changes are journalled and copied out
// when it ends, and the worker's copy is reset from the shared table. After the join the
// changes are merged task by task in list order, an entry replacing the shared one only
// when strictly cheaper. While they run, the tasks prune with each other's findings
// through a shared bound per component, in a way that leaves their results unchanged
// (see BoruvkaSearchTable). The result is therefore the same whichever worker ran which
// task and for any number of workers, one included: only the task list matters, and it
// is fixed by the tree. A tree too small to cut is searched in one piece.
//
// Node bounds are shared: a search tightens only nodes of its query subtree.
template <class Tree, class Space>
class ParallelSearch {
  public:
    // Many more than the threads: subtrees take uneven time, and a thread slowed by
    // other load on its processor then takes fewer of them.
    static constexpr std::size_t SEARCH_TASKS = 64;

    ParallelSearch(const Tree& tree, std::size_t threads, const ExecutionContext& context);

    // node_min_core from the core distances (in search units) in tree order.
    void compute_min_core(std::span<const double> position_core,
                          std::vector<double>& node_min_core);

    // node_component of `state` and `node_bound` from the components and candidates.
    void summarise(BoruvkaSearchState<Space>& state, std::span<const BoruvkaCandidate> candidates,
                   std::vector<double>& node_bound);

    // One search over every point, improving `candidates` as described above.
    void search(const BoruvkaSearchState<Space>& state, std::vector<BoruvkaCandidate>& candidates,
                std::span<double> node_bound);

  private:
    struct Worker {
        std::vector<BoruvkaCandidate> table;
        CandidateJournal journal;
        bool ready = false;  // `table` equals the shared table of the current search
    };

    // Fills nodes per task subtree (in parallel), then the nodes above them.
    template <class Fill>
    void fill_nodes(const Fill& fill);

    const Tree& tree_;
    const ExecutionContext& context_;
    std::size_t workers_count_;
    std::vector<std::size_t> tasks_;      // subtree roots
    std::vector<std::size_t> task_end_;   // one past each subtree's last node
    std::vector<std::size_t> top_nodes_;  // nodes above the subtrees, children first
    std::vector<Worker> workers_;
    std::vector<std::vector<std::pair<std::size_t, BoruvkaCandidate>>> changes_;  // per task
    std::vector<double> shared_bound_;                                            // per component
    std::vector<std::size_t> witness_;  // per node (BoruvkaSearchTable), kept across searches
};

}  // namespace corvane
