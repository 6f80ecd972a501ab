#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

#include "parallel/execution_context.hpp"

namespace corvane {

// Loops over fewer rows than this always run on the calling thread.
inline constexpr std::size_t PARALLEL_MIN_ROWS = 256;

// Processors this process may run on: the CPU affinity mask, capped by a
// control-group CPU quota (cgroup v2 cpu.max or v1 cfs quota/period). 1 when
// nothing can be determined; never throws.
std::size_t available_threads() noexcept;

// Half-open range of rows handled by one worker.
struct RowChunk {
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const RowChunk&, const RowChunk&) = default;
};

// Contiguous chunks of ceil(n / min(n, threads)) rows; empty chunks are left out.
std::vector<RowChunk> split_rows(std::size_t n, std::size_t threads);

// How many chunks a loop that balances its work cuts each worker's share into. The
// workers claim the chunks in turn (run_task_queue), so a worker whose processor is
// shared with other load takes fewer of them instead of holding up the others.
inline constexpr std::size_t CHUNKS_PER_WORKER = 8;

// The chunks of such a loop: split_rows(n, threads * CHUNKS_PER_WORKER), or the whole
// range as one chunk (none when n is 0) for fewer than 2 threads or PARALLEL_MIN_ROWS rows.
std::vector<RowChunk> balanced_chunks(std::size_t n, std::size_t threads);

// Runs task(i) for every i in [0, count), each on a thread of its own (a worker of the
// context: ExecutionContext::run_on_worker), and returns once all have finished; a
// single task runs on the calling thread. The calling thread computes nothing itself: it
// waits, polling `context` at least every 20 ms. When the system refuses a thread, the
// tasks that got none run on the calling thread, in order, once the others have started,
// so every task runs all the same.
//
// Every task has returned before the call returns or throws. Then a task's
// failure is rethrown as rethrow_worker_failure does (the first in task order), and an
// interruption as Interrupted.
void run_tasks(const ExecutionContext& context, std::size_t count,
               const std::function<void(std::size_t)>& task);

// Runs task(worker, i) for every i in [0, count) on min(workers, count) threads
// (as run_tasks: on the calling thread when that is 1). Each thread claims the lowest
// unclaimed index whenever it is free, so uneven tasks even out; which worker
// runs which task varies from run to run, so results must not depend on it.
// Once a task has failed or the call is interrupted, no further task is started;
// failures are reported as in run_tasks.
void run_task_queue(const ExecutionContext& context, std::size_t workers, std::size_t count,
                    const std::function<void(std::size_t worker, std::size_t task)>& task);

// Rethrows the failure of a worker on the calling thread: std::bad_alloc,
// InternalError and Interrupted as they are, anything else as InternalError.
[[noreturn]] void rethrow_worker_failure(const std::exception_ptr& failure);

// The per-row loop pattern: work(chunk) over the chunks of balanced_chunks(n,
// context.threads()), which that many threads claim in turn; a single chunk runs on the
// calling thread. Each chunk is handed to `work` in consecutive pieces of a few
// milliseconds each, with an interruption check between them, so `work` must treat every
// row on its own and only write the output slots of its own rows.
void for_each_row_chunk(const ExecutionContext& context, std::size_t n,
                        const std::function<void(RowChunk)>& work);

// Loops of a few nanoseconds per step over fewer indices than this run on the calling
// thread: starting the threads would cost more than they save.
inline constexpr std::size_t PARALLEL_MIN_SHORT_STEPS = std::size_t{1} << 16;

// step(i) for every i in [0, n): as for_each_row_chunk from PARALLEL_MIN_SHORT_STEPS
// indices on, as for_each_checked below; `step` must treat every index on its own and
// write only the output slots of its own index.
template <class Step>
void for_each_index(const ExecutionContext& context, std::size_t n, const Step& step) {
    if (n < PARALLEL_MIN_SHORT_STEPS || context.threads() < 2) {
        for_each_checked(context, 0, n, step);
        return;
    }
    for_each_row_chunk(context, n, [&](RowChunk chunk) {
        for (std::size_t i = chunk.start; i < chunk.end; ++i)
            step(i);
    });
}

}  // namespace corvane
