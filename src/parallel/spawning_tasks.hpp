#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

#include "parallel/execution_context.hpp"
#include "parallel/parallel.hpp"

namespace corvane {

// Tasks that add further tasks as they run, for walks whose parts are only found on the
// way. Each task is a Payload, kept at a fixed address for the life of the object, so a
// running task may write its results into its own payload while others are added.
// Tasks are numbered 0, 1, ... in the order they are added; an idle thread takes the
// lowest number not yet started.
//
// Thread-safety: add() may be called from any running task; everything else only from
// the thread that owns the object, outside run().
template <class Payload>
class SpawningTasks {
  public:
    // Adds a task; returns its number.
    std::size_t add(Payload payload) {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(payload));
        wake_.notify_one();
        return tasks_.size() - 1;
    }

    std::size_t size() const { return tasks_.size(); }
    Payload& operator[](std::size_t task) { return tasks_[task]; }
    const Payload& operator[](std::size_t task) const { return tasks_[task]; }

    // Runs body(number, payload) for every task added before or during the call, on at
    // most `workers` threads of `context` (on the calling thread for one), and returns
    // once all have run. Once a task has failed no further task starts; failures and
    // interruptions are reported as run_tasks reports them.
    void run(const ExecutionContext& context, std::size_t workers,
             const std::function<void(std::size_t, Payload&)>& body) {
        run_tasks(context, workers < 1 ? 1 : workers, [&](std::size_t) { work(context, body); });
    }

  private:
    void work(const ExecutionContext& context,
              const std::function<void(std::size_t, Payload&)>& body) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (failed_) return;
            if (next_ < tasks_.size()) {
                const std::size_t task = next_++;
                ++running_;
                Payload& payload = tasks_[task];
                lock.unlock();
                try {
                    context.check();
                    body(task, payload);
                } catch (...) {
                    lock.lock();
                    failed_ = true;
                    --running_;
                    wake_.notify_all();
                    throw;
                }
                lock.lock();
                --running_;
                if (running_ == 0 && next_ == tasks_.size()) wake_.notify_all();
            } else if (running_ == 0) {
                return;
            } else {
                // A running task may still add some.
                wake_.wait(lock);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Payload> tasks_;
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    bool failed_ = false;
};

}  // namespace corvane
