#include "parallel/parallel.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <exception>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
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

void run_tasks(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 1) {
        try {
            task(0);
        } catch (...) {
            rethrow_worker_failure(std::current_exception());
        }
        return;
    }
    std::vector<std::exception_ptr> failures(count);
    std::vector<std::thread> threads;
    threads.reserve(count);
    std::string spawn_failure;
    for (std::size_t i = 0; i < count; ++i) {
        try {
            threads.emplace_back([&task, &failures, i] {
                try {
                    task(i);
                } catch (...) {
                    failures[i] = std::current_exception();
                }
            });
        } catch (const std::system_error& error) {
            spawn_failure = error.what();
            break;
        }
    }
    for (std::thread& thread : threads)
        thread.join();

    if (!spawn_failure.empty()) fail_internal("failed to spawn thread: " + spawn_failure);
    for (const std::exception_ptr& failure : failures) {
        if (failure) rethrow_worker_failure(failure);
    }
}

void rethrow_worker_failure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const InternalError&) {
        throw;
    } catch (const std::exception& error) {
        fail_internal(std::string("worker thread failed: ") + error.what());
    } catch (...) {
        fail_internal("worker thread failed");
    }
}

void run_task_queue(std::size_t workers, std::size_t count,
                    const std::function<void(std::size_t, std::size_t)>& task) {
    workers = std::min(std::max<std::size_t>(workers, 1), count);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    run_tasks(workers, [&](std::size_t worker) {
        try {
            for (;;) {
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

void run_chunks(const std::vector<RowChunk>& chunks, const std::function<void(RowChunk)>& work) {
    run_tasks(chunks.size(), [&](std::size_t i) { work(chunks[i]); });
}

void for_each_row_chunk(std::size_t n, std::size_t threads,
                        const std::function<void(RowChunk)>& work) {
    if (std::min(n, threads) < 2 || n < PARALLEL_MIN_ROWS) {
        if (n > 0) work({0, n});
        return;
    }
    run_chunks(split_rows(n, threads), work);
}

}  // namespace corvane
