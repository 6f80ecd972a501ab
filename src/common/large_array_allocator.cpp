#include "common/large_array_allocator.hpp"

#include <cstdint>
#include <limits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace corvane {

#if defined(__linux__) && defined(MADV_HUGEPAGE)

namespace {

constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

std::size_t round_up(std::size_t value, std::size_t step) {
    return (value + step - 1) / step * step;
}

}  // namespace

void* allocate_array_bytes(std::size_t bytes) {
    if (bytes < LARGE_ARRAY_BYTES) return ::operator new(bytes);
    if (bytes > std::numeric_limits<std::size_t>::max() - 2 * HUGE_PAGE_BYTES) {
        throw std::bad_alloc();
    }
    // Mapped one huge page longer than needed, then trimmed to the aligned part.
    const std::size_t length = round_up(bytes, HUGE_PAGE_BYTES);
    const std::size_t mapped = length + HUGE_PAGE_BYTES;
    void* const base =
        mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t aligned = round_up(start, HUGE_PAGE_BYTES);
    if (aligned > start) munmap(base, aligned - start);
    const std::uintptr_t tail = aligned + length;
    if (start + mapped > tail) munmap(reinterpret_cast<void*>(tail), start + mapped - tail);
    void* const memory = reinterpret_cast<void*>(aligned);
    madvise(memory, length, MADV_HUGEPAGE);
    return memory;
}

void deallocate_array_bytes(void* memory, std::size_t bytes) noexcept {
    if (bytes < LARGE_ARRAY_BYTES) {
        ::operator delete(memory);
        return;
    }
    munmap(memory, round_up(bytes, HUGE_PAGE_BYTES));
}

#else

void* allocate_array_bytes(std::size_t bytes) {
    return ::operator new(bytes);
}

void deallocate_array_bytes(void* memory, std::size_t) noexcept {
    ::operator delete(memory);
}

#endif

}  // namespace corvane
