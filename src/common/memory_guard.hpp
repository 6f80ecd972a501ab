#pragma once

#include <cstddef>
#include <optional>

namespace corvane {

// Bytes this process can still take without being killed for lack of memory:
// the kernel's MemAvailable, capped by the control group's memory limit less
// its current use (cgroup v2 or v1). nullopt when neither can be read.
std::optional<std::size_t> available_memory_bytes() noexcept;

// Throws std::bad_alloc when `bytes` clearly exceed the memory available.
// Linux grants large allocations lazily and kills the process when the pages
// are touched, so a fit that cannot fit must be refused before it starts.
// Requests below 64 MiB are not checked.
void require_memory(std::size_t bytes);

}  // namespace corvane
