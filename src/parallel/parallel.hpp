#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

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

// Starts one thread per task index, calls task(i) on it and joins them all; a
// single task runs on the calling thread. A thread that cannot be started, or
// a task that throws, fails the call only after every started thread has been
// joined: std::bad_alloc and InternalError are rethrown as they are, anything
// else as InternalError.
void run_tasks(std::size_t count, const std::function<void(std::size_t)>& task);

// Runs task(worker, i) for every i in [0, count) on min(workers, count) threads
// (as run_tasks: on the calling thread when that is 1). Each thread claims the lowest
// unclaimed index whenever it is free, so uneven tasks even out; which worker
// runs which task varies from run to run, so results must not depend on it.
// Once a task has failed no further task is started; failures are reported as
// in run_tasks.
void run_task_queue(std::size_t workers, std::size_t count,
                    const std::function<void(std::size_t worker, std::size_t task)>& task);

// Rethrows the failure of a worker on the calling thread: std::bad_alloc and
// InternalError as they are, anything else as InternalError.
[[noreturn]] void rethrow_worker_failure(const std::exception_ptr& failure);

// One worker per chunk (see run_tasks).
void run_chunks(const std::vector<RowChunk>& chunks, const std::function<void(RowChunk)>& work);

// The per-row loop pattern: work(chunk) over rows [0, n), on the calling thread
// as a single chunk when threads < 2 or n < PARALLEL_MIN_ROWS, otherwise split
// into chunks that run on their own threads. `work` must only write the
// output slots of its own rows.
void for_each_row_chunk(std::size_t n, std::size_t threads,
                        const std::function<void(RowChunk)>& work);

}  // namespace corvane
