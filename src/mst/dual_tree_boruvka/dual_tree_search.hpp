#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "mst/dual_tree_boruvka/boruvka_candidate.hpp"
#include "mst/mutual_reachability.hpp"
#include "parallel/execution_context.hpp"
#include "search_space/search_space.hpp"

namespace corvane {

// Read-only inputs of one dual-tree search, shared by every worker of an iteration.
// Per-point values are kept in tree order (entry i belongs to the point at tree position
// i, input row `indices[i]`), so that a leaf's values are as contiguous as its rows.
// Components are numbered 0 .. C-1 in each iteration. Core distances and weights are in
// the search units of `Space` (search_space/search_space.hpp): squared for Euclidean data.
template <class Space = SquaredEuclideanSpace>
struct BoruvkaSearchState {
    Space space;
    std::vector<double> position_core;            // core distances, fixed per run
    std::vector<std::size_t> position_component;  // component numbers, rebuilt per iteration
    std::vector<double> node_min_core;            // smallest_per_node, fixed per run
    std::vector<std::size_t> node_component;      // label_nodes, rebuilt per iteration
    typename Space::Reachability mutual_reachability = Space::reachability(1.0);
};

// Notes which candidate entries a search changed, each once, so that a private copy of
// the table can be reported and reset in time proportional to the changes rather than to
// the number of components.
class CandidateJournal {
  public:
    // Forgets every entry and sizes the journal for `components` entries.
    void reset(std::size_t components) {
        noted_.assign(components, 0);
        changed_.clear();
    }

    void note(std::size_t component) {
        if (noted_[component] != 0) return;
        noted_[component] = 1;
        changed_.push_back(component);
    }

    // The entries noted since the last clear(), in the order first noted.
    std::span<const std::size_t> changed() const { return changed_; }

    void clear() {
        for (const std::size_t component : changed_)
            noted_[component] = 0;
        changed_.clear();
    }

  private:
    std::vector<unsigned char> noted_;
    std::vector<std::size_t> changed_;
};

// What one search writes: its candidate table, indexed by component, and per node an
// upper bound on the open_weight (node_summaries.hpp) of the node's points. Candidates
// only ever decrease during a search, so a bound taken at any earlier moment stays valid;
// the search skips the node pairs that the bound settles and tightens it when it scans a
// node or has searched both children of a node. Only nodes of the query subtree are
// tightened, so searches over disjoint query subtrees can
// share one `node_bound`. A `journal`, when given, is told every entry that changes.
//
// `shared_bound`, when not empty, holds per component the weight of an edge known to
// some search running at the same time (each starts from its table's weight). Every
// search lowers it, atomically, when it improves a candidate, and skips the work that
// cannot reach it: a pair is dropped only when it weighs strictly more than the shared
// bound, so a search still finds every edge that could win the merge, and among equal
// weights the same one. Its result for any component that it could win is therefore the
// same as without the sharing; only the amount of work depends on timing.
//
// `witness`, when not empty, holds per node a tree position inside the node: where the
// last scan of the node found a candidate above its threshold. Scans look there first,
// since the same point usually answers the node's next pair too; like the node bounds,
// only nodes of the query subtree are written. It saves work and changes no answer.
struct BoruvkaSearchTable {
    std::span<BoruvkaCandidate> candidates;
    std::span<double> node_bound;
    CandidateJournal* journal = nullptr;
    std::span<double> shared_bound = {};
    std::span<std::size_t> witness = {};
};

// `Tree` is a SpatialTree (tree_common/tree_contract.hpp); of its bounds the search uses
// the node-to-node gap only (node_gap in the tree's bounds header). Instantiated for the
// pairings of CORVANE_FOR_EACH_TREE_SPACE (search_space/tree_spaces.hpp).

// Lowers `table.candidates` (indexed by component) to the cheapest mutual-reachability
// edge between a point of the query subtree q and a point of the reference subtree r
// that lie in different components; an edge found improves both components' entries,
// with `from` and `to` given as tree positions. Replacements are strict, so among equal
// weights the pair met first stays. q or r may be NO_NODE (nothing to do). Checks
// `context` for interruption as it goes.
template <class Tree, class Space>
void dual_tree_search(const Tree& tree, const BoruvkaSearchState<Space>& state, std::size_t q,
                      std::size_t r, BoruvkaSearchTable table, const ExecutionContext& context);

}  // namespace corvane
