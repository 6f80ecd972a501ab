#include "parallel/execution_context.hpp"

#include <algorithm>
#include <condition_variable>
#include <utility>

#include "parallel/parallel.hpp"

namespace corvane {

// A thread that runs the bodies handed to it one at a time, waiting for each. Defined
// before the constructors, whose unwinding destroys `workers_` and so needs the whole type.
class ExecutionContext::Worker {
  public:
    void hand(std::function<void()> body) {
        {
            const std::lock_guard lock(mutex_);
            body_ = std::move(body);
            busy_ = true;
        }
        changed_.notify_all();
    }

    // Returns once the body handed last has returned and its captures are destroyed.
    void wait_idle() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
    }

    void quit() {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return busy_ || quit_; });
            if (!busy_) return;
            std::function<void()> body = std::move(body_);
            lock.unlock();
            body();
            body = nullptr;
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::thread thread;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> body_;
    bool busy_ = false;
    bool quit_ = false;
};

ExecutionContext::ExecutionContext() : ExecutionContext(available_threads()) {}

ExecutionContext::ExecutionContext(std::size_t threads, Poll poll, ThreadStarter start)
    : threads_(std::max<std::size_t>(threads, 1)),
      poll_(std::move(poll)),
      start_(std::move(start)),
      creator_(std::this_thread::get_id()) {}

bool ExecutionContext::poll_now() const {
    if (!poll_()) return false;
    stopped_.store(true, std::memory_order_relaxed);
    return true;
}

std::thread ExecutionContext::start_thread(std::function<void()> body) const {
    if (start_) return start_(std::move(body));
    return std::thread(std::move(body));
}

ExecutionContext::~ExecutionContext() {
    for (const std::unique_ptr<Worker>& worker : workers_) {
        worker->quit();
        worker->thread.join();
    }
}

ExecutionContext::WorkerRun ExecutionContext::run_on_worker(std::function<void()> body) const {
    Worker* worker = nullptr;
    {
        const std::lock_guard lock(workers_mutex_);
        if (!idle_.empty()) {
            worker = idle_.back();
            idle_.pop_back();
        }
    }
    if (worker == nullptr) {
        auto added = std::make_unique<Worker>();
        Worker* serving = added.get();
        added->thread = start_thread([serving] { serving->serve(); });
        worker = serving;
        const std::lock_guard lock(workers_mutex_);
        try {
            idle_.reserve(workers_.size() + 1);
            workers_.push_back(std::move(added));
        } catch (...) {
            added->quit();
            added->thread.join();
            throw;
        }
    }
    worker->hand(std::move(body));
    return WorkerRun(*this, worker);
}

void ExecutionContext::park(Worker* worker) const noexcept {
    worker->wait_idle();
    const std::lock_guard lock(workers_mutex_);
    idle_.push_back(worker);
}

void ExecutionContext::WorkerRun::finish() noexcept {
    if (worker_ == nullptr) return;
    context_->park(std::exchange(worker_, nullptr));
}

}  // namespace corvane
