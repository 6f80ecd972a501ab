#pragma once

#include <cstddef>
#include <span>

#include "linkage/single_linkage_tree.hpp"

namespace corvane {

// Second linkage pass: gives record i the node id n + i, names its two sides
// by the nodes that currently hold `low` (left) and `high` (right), and turns
// distances into lambdas (+infinity for a distance that is 0, negative or
// NaN).
SingleLinkageTree number_linkage_rows(std::span<const MergeRecord> records, std::size_t n);

}  // namespace corvane
