#include "union_find/union_find.hpp"

#include <numeric>

#include "common/internal_error.hpp"

namespace corvane {

UnionFind::UnionFind(std::size_t size) : parent_(size), size_(size, 1) {
    std::iota(parent_.begin(), parent_.end(), std::size_t{0});
}

std::size_t UnionFind::find(std::size_t x) {
    const std::size_t count = parent_.size();
    check_index(x, count, "UnionFind::find");
    std::size_t root = x;
    while (parent_[root] != root) {
        root = parent_[root];
        check_index(root, count, "UnionFind::find");
    }
    while (parent_[x] != root) {
        const std::size_t next = parent_[x];
        parent_[x] = root;
        x = next;
    }
    return root;
}

void UnionFind::unite(std::size_t a, std::size_t b) {
    const std::size_t ra = find(a);
    const std::size_t rb = find(b);
    if (ra == rb) return;
    if (size_[ra] < size_[rb]) {
        parent_[ra] = rb;
        size_[rb] += size_[ra];
    } else {
        parent_[rb] = ra;
        size_[ra] += size_[rb];
    }
}

}  // namespace corvane
