#include "parallel/lockstep.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "parallel/parallel.hpp"

namespace corvane {
namespace {

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Barrier for a fixed group of threads that meets once per round. The rounds
// it separates last microseconds, and a sleep and wake-up through the kernel
// costs about as much as a round, so a waiting thread first spins, then keeps
// yielding its processor (which lets another thread of the group run when
// there are more threads than processors), and sleeps only after SPIN_TIME.
// On two processors this made dense Prim's rounds about twice as fast as
// std::barrier, and eight threads on two processors about six times as fast as
// spinning without yielding.
class RoundBarrier {
  public:
    explicit RoundBarrier(std::size_t count) : count_(count) {}

    // Returns once all `count` threads have arrived. The last one to arrive
    // runs `last` before it releases the others.
    template <class Last>
    void arrive_and_wait(Last&& last) {
        const std::uint32_t phase = phase_.load(std::memory_order_acquire);
        if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == count_) {
            arrived_.store(0, std::memory_order_relaxed);
            last();
            phase_.store(phase + 1, std::memory_order_release);
            phase_.notify_all();
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        for (unsigned spin = 1;; ++spin) {
            if (phase_.load(std::memory_order_acquire) != phase) return;
            if (spin < 256) {
                cpu_relax();
                continue;
            }
            std::this_thread::yield();
            if (spin % 16 == 0 && std::chrono::steady_clock::now() - start > SPIN_TIME) break;
        }
        while (phase_.load(std::memory_order_acquire) == phase)
            phase_.wait(phase, std::memory_order_acquire);
    }

  private:
    static constexpr std::chrono::microseconds SPIN_TIME{50};
    const std::size_t count_;
    alignas(64) std::atomic<std::size_t> arrived_{0};
    alignas(64) std::atomic<std::uint32_t> phase_{0};
};

// First failure of a run; later ones are dropped.
class FailureSlot {
  public:
    void record(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        if (!failure_) failure_ = std::move(failure);
    }
    // Only read where the barrier or the joins order it after every record().
    bool failed() const { return static_cast<bool>(failure_); }
    const std::exception_ptr& failure() const { return failure_; }

  private:
    std::mutex mutex_;
    std::exception_ptr failure_;
};

}  // namespace

void run_lockstep(const ExecutionContext& context, std::size_t workers,
                  const std::function<void(std::size_t)>& round,
                  const std::function<bool()>& between) {
    if (workers <= 1) {
        try {
            do {
                context.check();
                round(0);
            } while (between());
        } catch (...) {
            rethrow_worker_failure(std::current_exception());
        }
        return;
    }

    FailureSlot failures;
    bool go_on = true;        // written by between's thread, read after the barrier
    std::size_t threads = 1;  // the calling thread and every started one; fixed before any round
    std::optional<RoundBarrier> barrier;
    const auto work = [&](std::size_t t) {
        for (;;) {
            try {
                if (t == 0) context.check();
                for (std::size_t w = t; w < workers; w += threads)
                    round(w);
            } catch (...) {
                failures.record(std::current_exception());
            }
            barrier->arrive_and_wait([&] {
                go_on = false;
                if (failures.failed()) return;
                try {
                    go_on = between();
                } catch (...) {
                    failures.record(std::current_exception());
                }
            });
            if (!go_on) return;
        }
    };

    // Started threads wait here until the number of threads, and with it the barrier,
    // is settled.
    std::atomic<bool> gate{false};
    std::vector<ExecutionContext::WorkerRun> started;
    started.reserve(workers - 1);
    for (std::size_t t = 1; t < workers; ++t) {
        try {
            started.push_back(context.run_on_worker([&, t] {
                gate.wait(false, std::memory_order_acquire);
                work(t);
            }));
        } catch (...) {
            break;  // refused: the threads that did start share the workers
        }
    }
    threads = started.size() + 1;
    barrier.emplace(threads);
    gate.store(true, std::memory_order_release);
    gate.notify_all();
    work(0);
    for (ExecutionContext::WorkerRun& worker : started)
        worker.finish();

    if (failures.failed()) rethrow_worker_failure(failures.failure());
}

}  // namespace corvane
