#include "parallel/parallel.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <thread>

#include "common/cgroup_path.hpp"
#include "common/internal_error.hpp"

namespace corvane {
namespace {

std::size_t affinity_count() {
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(static_cast<std::size_t>(cpus));
        if (set == nullptr) return 0;
        const std::size_t bytes = CPU_ALLOC_SIZE(static_cast<std::size_t>(cpus));
        CPU_ZERO_S(bytes, set);
        if (sched_getaffinity(0, bytes, set) == 0) {
            const int count = CPU_COUNT_S(bytes, set);
            CPU_FREE(set);
            return count > 0 ? static_cast<std::size_t>(count) : 0;
        }
        CPU_FREE(set);
        if (errno != EINVAL) return 0;  // EINVAL: the mask is larger than `cpus`
    }
    return 0;
}

// CPUs granted by a quota of `quota` per `period`, rounded up; 0 for no limit.
std::size_t quota_cpus(double quota, double period) {
    if (!(quota > 0.0) || !(period > 0.0)) return 0;
    return static_cast<std::size_t>(std::max(1.0, std::ceil(quota / period)));
}

std::size_t cgroup_v2_cpus() {
    const std::string path = cgroup_path("").value_or("");
    // The quota may be set on any ancestor; the tightest one applies.
    std::size_t best = 0;
    for (std::string dir = path;; dir = dir.substr(0, dir.rfind('/'))) {
        std::ifstream file("/sys/fs/cgroup" + dir + "/cpu.max");
        std::string quota;
        double period = 0.0;
        if (file >> quota >> period && quota != "max") {
            const std::size_t cpus = quota_cpus(std::atof(quota.c_str()), period);
            if (cpus > 0 && (best == 0 || cpus < best)) best = cpus;
        }
        if (dir.empty() || dir == "/") break;
    }
    return best;
}

std::size_t cgroup_v1_cpus() {
    const std::string path = cgroup_path("cpu").value_or("");
    for (const std::string root : {"/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpu"}) {
        for (const std::string& dir : {root + path, root}) {
            std::ifstream quota_file(dir + "/cpu.cfs_quota_us");
            std::ifstream period_file(dir + "/cpu.cfs_period_us");
            double quota = 0.0;
            double period = 0.0;
            if (quota_file >> quota && period_file >> period) return quota_cpus(quota, period);
        }
    }
    return 0;
}

}  // namespace

std::size_t available_threads() noexcept {
    try {
        std::size_t count = affinity_count();
        if (count == 0) count = 1;
        std::size_t quota = cgroup_v2_cpus();
        if (quota == 0) quota = cgroup_v1_cpus();
        if (quota > 0) count = std::min(count, quota);
        return count;
    } catch (...) {
        return 1;
    }
}

std::vector<RowChunk> split_rows(std::size_t n, std::size_t threads) {
    std::vector<RowChunk> chunks;
    const std::size_t workers = std::min(n, threads);
    if (workers == 0) return chunks;
    const std::size_t chunk = n / workers + (n % workers != 0 ? 1 : 0);
    for (std::size_t t = 0; t < workers && t * chunk < n; ++t) {
        chunks.push_back({t * chunk, std::min(n, (t + 1) * chunk)});
    }
    return chunks;
}

std::vector<RowChunk> balanced_chunks(std::size_t n, std::size_t threads) {
    if (std::min(n, threads) < 2 || n < PARALLEL_MIN_ROWS) return split_rows(n, 1);
    return split_rows(n, threads * CHUNKS_PER_WORKER);
}

namespace {

// How often a calling thread that waits for its workers polls for interruption.
constexpr auto WAIT_POLL = std::chrono::milliseconds(20);

// The time a piece of a row chunk should take: long enough that the check and the
// piece's own setup cost nothing in comparison, short enough to stop promptly.
constexpr auto PIECE_TIME = std::chrono::milliseconds(2);

// Counts the started threads that have finished, for a caller that polls while it
// waits for them. A thread crosses as the last thing it does, and the caller waits for
// every body to return before this object goes away.
class FinishLine {
  public:
    void cross() {
        {
            const std::lock_guard lock(mutex_);
            ++finished_;
        }
        all_done_.notify_one();
    }

    // Returns once `started` threads have crossed, calling poll() (without the lock)
    // every WAIT_POLL until then.
    template <class Poll>
    void wait(std::size_t started, const Poll& poll) {
        std::unique_lock lock(mutex_);
        while (!all_done_.wait_for(lock, WAIT_POLL, [&] { return finished_ >= started; })) {
            lock.unlock();
            poll();
            lock.lock();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable all_done_;
    std::size_t finished_ = 0;
};

bool is_interruption(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Interrupted&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Hands `chunk` to `work` in consecutive pieces of about PIECE_TIME, checking for
// interruption before each: a piece starts at one row and doubles while pieces take
// less than half the target, so that cheap rows are batched and costly ones still let
// the check come often.
void run_in_pieces(const ExecutionContext& context, RowChunk chunk,
                   const std::function<void(RowChunk)>& work) {
    using Clock = std::chrono::steady_clock;
    std::size_t piece = 1;
    for (std::size_t start = chunk.start; start < chunk.end;) {
        context.check();
        const std::size_t end = start + std::min(piece, chunk.end - start);
        const Clock::time_point begin = Clock::now();
        work({start, end});
        const Clock::duration elapsed = Clock::now() - begin;
        if (elapsed < PIECE_TIME / 2 && piece < chunk.end - chunk.start) {
            piece *= 2;
        } else if (elapsed > 2 * PIECE_TIME && piece > 1) {
            piece /= 2;
        }
        start = end;
    }
}

}  // namespace

void run_tasks(const ExecutionContext& context, std::size_t count,
               const std::function<void(std::size_t)>& task) {
    std::vector<std::exception_ptr> failures(count);
    const auto run = [&](std::size_t i) noexcept {
        try {
            task(i);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    };
    FinishLine finish;
    std::vector<ExecutionContext::WorkerRun> workers;
    std::size_t started = 0;
    if (count > 1) {
        workers.reserve(count);
        for (; started < count; ++started) {
            try {
                workers.push_back(context.run_on_worker([&run, &finish, i = started] {
                    run(i);
                    finish.cross();
                }));
            } catch (...) {
                break;  // refused: the calling thread takes the rest
            }
        }
    }
    for (std::size_t i = started; i < count; ++i)
        run(i);
    finish.wait(started, [&] { context.poll(); });
    for (ExecutionContext::WorkerRun& worker : workers)
        worker.finish();

    bool interrupted = context.stop_requested();
    for (const std::exception_ptr& failure : failures) {
        if (!failure) continue;
        if (!is_interruption(failure)) rethrow_worker_failure(failure);
        interrupted = true;
    }
    if (interrupted) throw Interrupted();
}

void rethrow_worker_failure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const InternalError&) {
        throw;
    } catch (const Interrupted&) {
        throw;
    } catch (const std::exception& error) {
        fail_internal(std::string("worker thread failed: ") + error.what());
    } catch (...) {
        fail_internal("worker thread failed");
    }
}

void run_task_queue(const ExecutionContext& context, std::size_t workers, std::size_t count,
                    const std::function<void(std::size_t, std::size_t)>& task) {
    workers = std::min(std::max<std::size_t>(workers, 1), count);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    run_tasks(context, workers, [&](std::size_t worker) {
        try {
            for (;;) {
                context.check();
                const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
                if (i >= count || failed.load(std::memory_order_relaxed)) return;
                task(worker, i);
            }
        } catch (...) {
            failed.store(true, std::memory_order_relaxed);
            throw;
        }
    });
}

void for_each_row_chunk(const ExecutionContext& context, std::size_t n,
                        const std::function<void(RowChunk)>& work) {
    const std::size_t threads = context.threads();
    const std::vector<RowChunk> chunks = balanced_chunks(n, threads);
    if (chunks.size() < 2) {
        run_in_pieces(context, {0, n}, work);
        return;
    }
    run_task_queue(context, threads, chunks.size(),
                   [&](std::size_t, std::size_t i) { run_in_pieces(context, chunks[i], work); });
}

}  // namespace corvane
