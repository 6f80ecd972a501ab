#pragma once

#include <cstddef>
#include <vector>

#include "parallel/execution_context.hpp"

namespace corvane {

// Faults in the pages of [memory, memory + bytes) before their first use, the threads of
// `context` a stretch each: for a fresh buffer that a step on one thread would otherwise
// touch first, so that the system zeroes its pages on every thread instead of one.
// Buffers below LARGE_ARRAY_BYTES are left alone, and so is everything on systems without
// the request (Linux before 5.14, other systems): the memory works the same either way.
// Interruption and thread failures are reported as run_tasks reports them.
void fault_in_pages(const ExecutionContext& context, void* memory, std::size_t bytes);

// values.assign(count, value), its buffer's pages faulted in on the threads of `context`
// before the copies are written.
template <class T>
void assign_faulted_in(const ExecutionContext& context, std::vector<T>& values, std::size_t count,
                       const T& value) {
    values.clear();
    values.reserve(count);
    fault_in_pages(context, values.data(), count * sizeof(T));
    values.assign(count, value);
}

}  // namespace corvane
