#include "union_find/union_find.hpp"

#include <string>

namespace corvane {

void fail_union_find_index(std::size_t x, std::size_t size) {
    fail_internal("UnionFind::find: index " + std::to_string(x) + " out of range for size " +
                  std::to_string(size));
}

}  // namespace corvane
