#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "parallel/execution_context.hpp"
#include "parallel/parallel.hpp"
#include "tree_common/tree_contract.hpp"

namespace corvane {

// The rows of `tree` in input order (row i at [i * dims, i * dims + dims)), bit for bit
// as the tree was built from them: how a caller that lent its rows to a tree takes them
// back. The nodes and bounds are released first, so only the two copies of the rows and
// the index array are ever held together. Each position writes only its own row, so the
// pass runs over the threads of `context`.
template <SpatialTree Tree>
std::vector<double> input_order_rows(Tree tree, const ExecutionContext& context) {
    const std::size_t dims = tree.dims;
    const std::vector<double> tree_rows = std::move(tree.tree_data);
    const std::vector<std::size_t> indices = std::move(tree.indices);
    tree = Tree();
    std::vector<double> rows(indices.size() * dims);
    for_each_index(context, indices.size(), [&](std::size_t position) {
        std::copy_n(tree_rows.data() + position * dims, dims,
                    rows.data() + indices[position] * dims);
    });
    return rows;
}

// The tree position of every input row, the inverse of `tree.indices`, as `Index`, which
// must hold every position. Each position writes only its own row's entry, so the pass
// runs over the threads of `context`.
template <class Index, class Tree>
std::vector<Index> input_row_positions(const Tree& tree, const ExecutionContext& context) {
    std::vector<Index> positions(tree.indices.size());
    for_each_index(context, tree.indices.size(), [&](std::size_t position) {
        positions[tree.indices[position]] = static_cast<Index>(position);
    });
    return positions;
}

}  // namespace corvane
