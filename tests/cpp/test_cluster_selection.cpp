#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/persistence.hpp"
#include "hierarchy_test_support.hpp"
#include "linkage/single_linkage.hpp"

namespace corvane {
namespace {

using testing::kInf;
using Ids = std::vector<std::size_t>;
constexpr auto Eom = ClusterSelectionMethod::Eom;
constexpr auto Leaf = ClusterSelectionMethod::Leaf;

Ids select(const CondensedTree& tree, std::size_t n, ClusterSelectionMethod method, bool single,
           double epsilon = 0.0) {
    return select_clusters(tree, n, {method, single, epsilon}).clusters;
}

TEST(ClusterSelection, EomTiesFavourTheParent) {
    EXPECT_EQ(select(testing::tie_tree(2.25), 5, Eom, true), (Ids{5}));
    EXPECT_EQ(select(testing::tie_tree(2.25), 5, Eom, false), (Ids{6, 7}));
    EXPECT_EQ(select(testing::tie_tree(2.5), 5, Eom, true), (Ids{6, 7}));
    // Nested: 16 (12) beats its children (2 + 4); 14 (4) loses to 16 + 17.
    EXPECT_EQ(select(testing::nested_tree(), 13, Eom, false), (Ids{15, 16, 17}));
    EXPECT_EQ(select(testing::nested_tree(), 13, Eom, true), (Ids{15, 16, 17}));
}

TEST(ClusterSelection, RootWithoutChildren) {
    const CondensedTree flat{{{3, 0, 1.0, 1}, {3, 1, 2.0, 1}, {3, 2, 2.0, 1}}};
    EXPECT_EQ(select(flat, 3, Eom, false), Ids{});
    EXPECT_EQ(select(flat, 3, Eom, true), (Ids{3}));
    EXPECT_EQ(select(flat, 3, Leaf, false), (Ids{3}));
    EXPECT_EQ(select(flat, 3, Leaf, true, 10.0), (Ids{3}));
    EXPECT_EQ(compute_persistence(flat, {{3}}), (std::vector<double>{kInf}));
    EXPECT_EQ(select({}, 1, Leaf, true), Ids{});
}

TEST(ClusterSelection, EpsilonClimbsToClustersBornAtOrAboveIt) {
    const CondensedTree tree = testing::nested_tree();
    for (bool single : {false, true}) {
        SCOPED_TRACE(single ? "allow_single_cluster" : "no single cluster");
        for (double off : {0.0, -1.0, std::nan("")}) {
            EXPECT_EQ(select(tree, 13, Leaf, single, off), (Ids{15, 17, 18, 19}));
            EXPECT_EQ(select(tree, 13, Eom, single, off), (Ids{15, 16, 17}));
        }
        for (auto method : {Eom, Leaf}) {
            // 18 and 19 (0.25) climb to 16 (1); 16 and 17 (1) climb to 14 (2).
            EXPECT_EQ(select(tree, 13, method, single, 0.5), (Ids{15, 16, 17}));
            EXPECT_EQ(select(tree, 13, method, single, 1.0), (Ids{15, 16, 17}));
            EXPECT_EQ(select(tree, 13, method, single, 1.5), (Ids{14, 15}));
            // Only the root is born at 3 or above; without a single cluster
            // the children of the root stay.
            EXPECT_EQ(select(tree, 13, method, single, 3.0), single ? Ids{13} : (Ids{14, 15}));
        }
    }
}

Ids capped(const CondensedTree& tree, std::size_t n, ClusterSelectionMethod method, bool single,
           double epsilon, std::size_t max_size, double epsilon_max = kInf) {
    return select_clusters(tree, n, {method, single, epsilon, max_size, epsilon_max}).clusters;
}

constexpr std::size_t no_cap = SelectionParams::NO_SIZE_CAP;

TEST(ClusterSelection, CapsBarClustersWithClustersWithinThemBelow) {
    // The root (5 points, born at +infinity) wins the tie with its two pairs.
    const CondensedTree tie = testing::tie_tree(2.25);
    EXPECT_EQ(capped(tie, 5, Eom, true, 0.0, 5), (Ids{5}));
    EXPECT_EQ(capped(tie, 5, Eom, true, 0.0, 4), (Ids{6, 7}));
    EXPECT_EQ(capped(tie, 5, Eom, true, 0.0, no_cap, 1e300), (Ids{6, 7}));
    EXPECT_EQ(capped(tie, 5, Eom, true, 0.0, no_cap, kInf), (Ids{5}));
    // Pairs over the cap have nothing below them: they stay, and so does the root.
    EXPECT_EQ(capped(tie, 5, Eom, true, 0.0, 1), (Ids{5}));

    const CondensedTree tree = testing::nested_tree();
    for (bool single : {false, true}) {
        // 16 (4 points) is barred for 18 and 19; the leaves 15 and 17 are over the cap
        // too, with nothing below them.
        EXPECT_EQ(capped(tree, 13, Eom, single, 0.0, 3), (Ids{15, 17, 18, 19}));
        EXPECT_EQ(capped(tree, 13, Eom, single, 0.0, 4), (Ids{15, 16, 17}));
        EXPECT_EQ(capped(tree, 13, Eom, single, 0.0, no_cap, 0.5), (Ids{15, 17, 18, 19}));
        for (auto method : {Eom, Leaf}) {
            // Epsilon 1.5 lifts 16 and 17 (born at 1) into 14 (born at 2), unless 14 is
            // barred: by size, or by a birth above epsilon_max. Born at exactly 2 is not
            // above 2.
            EXPECT_EQ(capped(tree, 13, method, single, 1.5, no_cap), (Ids{14, 15}));
            EXPECT_EQ(capped(tree, 13, method, single, 1.5, 8), (Ids{14, 15}));
            EXPECT_EQ(capped(tree, 13, method, single, 1.5, 7), (Ids{15, 16, 17}));
            EXPECT_EQ(capped(tree, 13, method, single, 1.5, no_cap, 2.0), (Ids{14, 15}));
            EXPECT_EQ(capped(tree, 13, method, single, 1.5, no_cap, 1.9), (Ids{15, 16, 17}));
        }
        // With every cluster over the cap none is barred, but epsilon grows none either.
        EXPECT_EQ(capped(tree, 13, Leaf, single, 1.5, 1), (Ids{15, 17, 18, 19}));
    }
    // Epsilon 3 lifts everything into the root, unless the root is over a cap.
    EXPECT_EQ(capped(tree, 13, Leaf, true, 3.0, 13), (Ids{13}));
    EXPECT_EQ(capped(tree, 13, Leaf, true, 3.0, 12), (Ids{14, 15}));
    EXPECT_EQ(capped(tree, 13, Leaf, true, 3.0, 7), (Ids{15, 16, 17}));
}

TEST(ClusterSelection, PersistenceSpansBirthToLastDeparture) {
    const CondensedTree tree = testing::nested_tree();
    const auto persistence = compute_persistence(tree, {{13, 15, 16, 17, 19}});
    ASSERT_EQ(persistence.size(), 5u);
    EXPECT_EQ(persistence[0], kInf);
    EXPECT_DOUBLE_EQ(persistence[1], 2.0 - 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(persistence[2], 1.0 - 0.25);
    EXPECT_DOUBLE_EQ(persistence[3], 0.5);
    EXPECT_DOUBLE_EQ(persistence[4], 0.25 - 1.0 / 6.0);
    // Points leaving at +infinity: the span reaches distance 0.
    const CondensedTree dup{{{2, 3, 0.5, 2}, {2, 4, 0.5, 2}, {3, 0, kInf, 1}, {3, 1, kInf, 1}}};
    EXPECT_EQ(compute_persistence(dup, {{3}}), (std::vector<double>{2.0}));
}

// The excess-of-mass rule as first stated: candidates in descending id
// order, a kept cluster deselects every descendant by walking down.
Ids slow_eom(const CondensedTree& tree, std::size_t n, bool single) {
    std::map<std::size_t, double> birth, stability;
    std::map<std::size_t, Ids> children;
    birth[n] = 0.0;
    for (const auto& e : tree.edges) {
        if (e.child >= n) birth[e.child] = e.lambda, children[e.parent].push_back(e.child);
    }
    for (const auto& e : tree.edges) {
        stability[e.parent] += std::max(e.lambda - birth[e.parent], 0.0) * double(e.child_size);
    }
    std::map<std::size_t, bool> selected;
    for (const auto& [c, b] : birth) {
        if (c != n || single) selected[c] = true;
    }
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
        const std::size_t c = it->first;
        if (!children.contains(c)) continue;
        double sub = 0.0;
        for (std::size_t ch : children[c]) {
            sub += stability[ch];
        }
        if (sub <= stability[c]) {
            Ids stack = children[c];
            while (!stack.empty()) {
                const std::size_t d = stack.back();
                stack.pop_back();
                selected[d] = false;
                for (std::size_t g : children[d]) {
                    stack.push_back(g);
                }
            }
        } else {
            it->second = false;
            stability[c] = sub;
        }
    }
    Ids result;
    for (const auto& [c, on] : selected) {
        if (on) result.push_back(c);
    }
    return result;
}

TEST(ClusterSelection, EomMatchesTheDescendantWalkOnRandomTrees) {
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        std::mt19937_64 rng(seed);
        const std::size_t n = 20 + rng() % 200;
        const std::size_t m = 2 + rng() % 6;
        const auto edges = testing::random_spanning_tree(rng, n, 1 + int(seed % 12));
        const auto tree = condense(build_single_linkage(edges, n), n, m);
        for (bool single : {false, true}) {
            EXPECT_EQ(select(tree, n, Eom, single), slow_eom(tree, n, single))
                << "seed " << seed << " single " << single;
        }
    }
}

}  // namespace
}  // namespace corvane
