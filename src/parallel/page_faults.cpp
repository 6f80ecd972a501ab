#include "parallel/page_faults.hpp"

#include <cstdint>

#include "common/large_array_allocator.hpp"
#include "parallel/parallel.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace corvane {

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)

void fault_in_pages(const ExecutionContext& context, void* memory, std::size_t bytes) {
    const std::size_t threads = context.threads();
    if (bytes < LARGE_ARRAY_BYTES || threads < 2) return;
    // Whole pages inside the buffer only: the request takes page-aligned ranges, and the
    // pages it shares with its neighbours are touched by whoever uses them first.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t pages = (start + bytes - first) / page;
    run_tasks(context, threads, [&](std::size_t t) {
        const std::uintptr_t from = first + pages * t / threads * page;
        const std::uintptr_t to = first + pages * (t + 1) / threads * page;
        if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    });
}

#else

void fault_in_pages(const ExecutionContext&, void*, std::size_t) {}

#endif

}  // namespace corvane
