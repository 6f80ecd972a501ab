// Times each step of the cluster hierarchy on the spanning tree of real data: the
// edges come from the fit's own route, then the steps run as a fit runs them.
//
// Usage: hierarchy_bench DATA MIN_SAMPLES MIN_CLUSTER_SIZE REPEATS
// DATA is raw little-endian: rows and columns as two unsigned 64-bit integers, then the
// row-major 64-bit floats. Prints the best time of every step over REPEATS runs and the
// spanning-tree time for scale, and the bytes per point that a model keeps of the
// hierarchy (spanning tree, pre-order single-linkage tree and condensed tree).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "condensed_tree/cluster_selection.hpp"
#include "condensed_tree/condense.hpp"
#include "condensed_tree/condensed_index.hpp"
#include "condensed_tree/packed_condensed_tree.hpp"
#include "condensed_tree/persistence.hpp"
#include "hierarchy/hierarchy.hpp"
#include "labels/assign_labels.hpp"
#include "linkage/edge_order.hpp"
#include "linkage/preorder_linkage.hpp"
#include "linkage/single_linkage.hpp"
#include "linkage/spanning_tree.hpp"
#include "membership/membership_probabilities.hpp"
#include "mst/compute_mst.hpp"
#include "outlier/outlier_scores.hpp"
#include "read_matrix.hpp"

namespace {

using Clock = std::chrono::steady_clock;

using corvane_bench::read_matrix;

// Runs step() once and lowers best to its time if it was faster.
template <class Step>
auto timed(double& best, Step step) {
    const auto start = Clock::now();
    auto result = step();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DATA MIN_SAMPLES MIN_CLUSTER_SIZE REPEATS\n", argv[0]);
        return 2;
    }
    corvane::DataMatrix data = read_matrix(argv[1]);
    const std::size_t min_samples = std::stoul(argv[2]);
    const std::size_t min_cluster_size = std::stoul(argv[3]);
    const int repeats = std::stoi(argv[4]);
    const std::size_t n = data.rows;

    const auto mst_start = Clock::now();
    const corvane::MstResult mst =
        corvane::compute_mst(data, corvane::Metric::euclidean(), 1.0, min_samples);
    const double mst_seconds = std::chrono::duration<double>(Clock::now() - mst_start).count();

    constexpr double never = std::numeric_limits<double>::infinity();
    double sort = never, linkage = never, relink = never, layout = never, condense_rows = never,
           condense = never, unpack = never, index = never, select = never,
           labels = never, probabilities = never, scores = never, persistence = never;
    std::size_t clusters = 0;
    std::size_t kept_bytes = 0;
    for (int r = 0; r < repeats; ++r) {
        const auto sorted = timed(sort, [&] { return corvane::sorted_edges(mst.edges); });
        corvane::SpanningTree spanning_tree;
        const auto tree =
            timed(linkage, [&] { return corvane::link_sorted_edges(sorted, n, spanning_tree); });
        timed(relink, [&] { return corvane::build_single_linkage(spanning_tree); });
        const auto preorder = timed(layout, [&] { return corvane::PreorderLinkage(tree, n); });
        timed(condense_rows, [&] { return corvane::condense(tree, n, min_cluster_size); });
        const auto packed =
            timed(condense, [&] { return corvane::condense(preorder, min_cluster_size); });
        timed(unpack, [&] { return packed.unpacked(); });
        const auto idx = timed(index, [&] { return corvane::index_condensed_tree(packed); });
        const auto selection = timed(select, [&] {
            return corvane::select_clusters(packed, idx, corvane::SelectionParams{});
        });
        const auto assigned =
            timed(labels, [&] { return corvane::assign_labels(idx, selection, 0.0, false); });
        timed(probabilities,
              [&] { return corvane::membership_probabilities(idx, selection, assigned); });
        timed(scores, [&] { return corvane::outlier_scores(idx); });
        clusters = timed(persistence, [&] {
                       return corvane::compute_persistence(idx, selection);
                   }).size();
        kept_bytes = spanning_tree.bytes() + preorder.bytes() + packed.bytes();
    }
    std::printf("n %zu, %zu clusters; spanning tree %.3f s\n", n, clusters, mst_seconds);
    std::printf("edge sort %.4f\nsingle linkage (sorted edges) %.4f\n", sort, linkage);
    std::printf("single linkage (kept spanning tree) %.4f\npre-order layout %.4f\n", relink,
                layout);
    std::printf("condense (rows) %.4f\ncondense (pre-order, packed) %.4f\n", condense_rows, condense);
    std::printf("unpack %.4f\nindex %.4f\n", unpack, index);
    std::printf("select %.4f\nlabels %.4f\nprobabilities %.4f\nscores %.4f\n", select, labels,
                probabilities, scores);
    std::printf("persistence %.4f\n", persistence);
    std::printf("kept: spanning tree, pre-order tree and condensed tree, %.1f bytes per point\n",
                static_cast<double>(kept_bytes) / static_cast<double>(n));

    // A whole re-selection at another min_cluster_size, as a model runs it.
    corvane::Hierarchy hierarchy = corvane::link_hierarchy(mst.edges, n);
    corvane::HierarchySelection first =
        corvane::select_hierarchy(hierarchy, min_cluster_size, corvane::SelectionParams{});
    corvane::install_selection(hierarchy, first);
    double reselect = never;
    for (int r = 0; r < repeats; ++r) {
        timed(reselect, [&] {
            return corvane::select_hierarchy(hierarchy, min_cluster_size + 1 + r % 2,
                                             corvane::SelectionParams{});
        });
    }
    std::printf("re-selection at another min_cluster_size %.4f (%.1f%% of the spanning tree)\n",
                reselect, 100.0 * reselect / mst_seconds);
    return 0;
}
