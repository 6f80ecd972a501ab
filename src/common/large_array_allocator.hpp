#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

namespace corvane {

// Memory for arrays of `bytes`: from LARGE_ARRAY_BYTES on, a mapping of its own, aligned
// to 2 MiB and marked for transparent huge pages; below that, operator new. Where the
// system backs only marked memory with huge pages (the default on many distributions),
// first touching a per-point array costs one page fault per 2 MiB instead of one per
// 4 KiB: the hierarchy's passes allocate a few arrays per point each and would spend a
// large share of their time faulting. Marking is advice: memory the system will not back
// with huge pages works all the same. Throws std::bad_alloc when no memory is granted.
void* allocate_array_bytes(std::size_t bytes);

// Releases what allocate_array_bytes(bytes) returned, with the same `bytes`.
void deallocate_array_bytes(void* memory, std::size_t bytes) noexcept;

inline constexpr std::size_t LARGE_ARRAY_BYTES = std::size_t{4} << 20;

// A standard allocator over allocate_array_bytes, for the vectors that hold a value per
// point or per hierarchy node. Stateless: every instance frees what any other allocated.
template <class T>
struct LargeArrayAllocator {
    using value_type = T;

    LargeArrayAllocator() = default;
    template <class U>
    LargeArrayAllocator(const LargeArrayAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocate_array_bytes(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t count) noexcept {
        deallocate_array_bytes(memory, count * sizeof(T));
    }

    template <class U>
    friend bool operator==(const LargeArrayAllocator&, const LargeArrayAllocator<U>&) {
        return true;
    }
};

// A vector of a value per point or per hierarchy node.
template <class T>
using LargeArray = std::vector<T, LargeArrayAllocator<T>>;

}  // namespace corvane
