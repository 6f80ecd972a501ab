#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "parallel/execution_context.hpp"

namespace corvane::testing {

// Thread starts of an ExecutionContext: counts them and refuses every start after the
// first `allowed`, as a process at its thread limit does. Must outlive the context.
class ThreadStarts {
  public:
    explicit ThreadStarts(std::size_t allowed = std::numeric_limits<std::size_t>::max())
        : allowed_(allowed) {}

    ExecutionContext::ThreadStarter starter() {
        return [this](std::function<void()> body) {
            {
                const std::lock_guard lock(mutex_);
                if (started_ == allowed_) {
                    ++refused_;
                    throw std::system_error(
                        std::make_error_code(std::errc::resource_unavailable_try_again),
                        "thread refused by the test");
                }
                ++started_;
            }
            return std::thread(std::move(body));
        };
    }

    std::size_t started() const {
        const std::lock_guard lock(mutex_);
        return started_;
    }
    std::size_t refused() const {
        const std::lock_guard lock(mutex_);
        return refused_;
    }

  private:
    mutable std::mutex mutex_;
    std::size_t allowed_;
    std::size_t started_ = 0;
    std::size_t refused_ = 0;
};

// A poll that asks the call to stop from its `calls`-th call on (counting from 1), and
// notes whether it was ever called from a thread other than the one that made it.
class StopAfter {
  public:
    explicit StopAfter(std::size_t calls) : calls_(calls), owner_(std::this_thread::get_id()) {}

    ExecutionContext::Poll poll() {
        return [this] {
            if (std::this_thread::get_id() != owner_) foreign_ = true;
            return seen_.fetch_add(1) + 1 >= calls_;
        };
    }

    std::size_t seen() const { return seen_; }
    bool called_from_another_thread() const { return foreign_; }

  private:
    std::size_t calls_;
    std::thread::id owner_;
    std::atomic<std::size_t> seen_{0};
    std::atomic<bool> foreign_{false};
};

}  // namespace corvane::testing
