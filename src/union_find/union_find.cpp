#include "union_find/union_find.hpp"

#include <string>

#include "common/internal_error.hpp"

namespace corvane {

UnionFind::UnionFind(std::size_t size) : nodes_(size) {
    for (std::size_t i = 0; i < size; ++i)
        nodes_[i] = {i, 1};
}

UnionFind::UnionFind(std::span<const std::size_t> sizes) : nodes_(sizes.size()) {
    for (std::size_t i = 0; i < sizes.size(); ++i)
        nodes_[i] = {i, sizes[i]};
}

void UnionFind::fail_out_of_range(std::size_t x) const {
    fail_internal("UnionFind::find: index " + std::to_string(x) + " out of range for size " +
                  std::to_string(nodes_.size()));
}

std::size_t UnionFind::representative(std::size_t x) const {
    const std::size_t count = nodes_.size();
    if (x >= count) fail_out_of_range(x);
    while (nodes_[x].parent != x) {
        x = nodes_[x].parent;
        check_index(x, count, "UnionFind::find");
    }
    return x;
}

std::size_t UnionFind::find_and_compress(std::size_t x) {
    const std::size_t root = representative(x);
    while (nodes_[x].parent != root) {
        const std::size_t next = nodes_[x].parent;
        nodes_[x].parent = root;
        x = next;
    }
    return root;
}

void UnionFind::unite(std::size_t a, std::size_t b) {
    const std::size_t ra = find(a);
    const std::size_t rb = find(b);
    if (ra == rb) return;
    if (nodes_[ra].size < nodes_[rb].size) {
        nodes_[ra].parent = rb;
        nodes_[rb].size += nodes_[ra].size;
    } else {
        nodes_[rb].parent = ra;
        nodes_[ra].size += nodes_[rb].size;
    }
}

}  // namespace corvane
