#include "model_exports/hierarchy_tables.hpp"

#include <cmath>

#include "linkage/single_linkage.hpp"

namespace corvane {

DataMatrix single_linkage_matrix(const FittedModel& model) {
    const SpanningTree& tree = model.hierarchy.spanning_tree;
    const int units = model.distance_units();
    DataMatrix table(tree.size(), 4);
    const SingleLinkageTree linkage = build_single_linkage(tree);
    for (std::size_t i = 0; i < linkage.rows.size(); ++i) {
        const LinkageRow& row = linkage.rows[i];
        double* out = table.row(i);
        out[0] = static_cast<double>(row.left);
        out[1] = static_cast<double>(row.right);
        out[2] = std::ldexp(tree.edge(i).weight, -units);
        out[3] = static_cast<double>(row.size);
    }
    return table;
}

DataMatrix spanning_tree_table(const FittedModel& model) {
    const SpanningTree& tree = model.hierarchy.spanning_tree;
    const int units = model.distance_units();
    DataMatrix table(tree.size(), 3);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const MstEdge edge = tree.edge(i);
        double* out = table.row(i);
        out[0] = static_cast<double>(edge.a);
        out[1] = static_cast<double>(edge.b);
        out[2] = std::ldexp(edge.weight, -units);
    }
    return table;
}

CondensedTree condensed_edges(const FittedModel& model) {
    CondensedTree tree = model.hierarchy.condensed.unpacked();
    const int units = model.distance_units();
    for (CondensedEdge& edge : tree.edges)
        edge.lambda = std::ldexp(edge.lambda, units);
    return tree;
}

std::vector<double> core_distances(const FittedModel& model) {
    std::vector<double> distances(model.core_distances);
    const int units = model.distance_units();
    for (double& distance : distances)
        distance = std::ldexp(distance, -units);
    return distances;
}

}  // namespace corvane
