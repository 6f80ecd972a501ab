#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace corvane {

// Thrown at a checkpoint once the caller has asked the call to stop. It is not a failure
// of the computation: by the time it leaves a stage every thread the stage started has
// been joined, and nothing the call computed is kept.
class Interrupted : public std::exception {
  public:
    const char* what() const noexcept override { return "interrupted"; }
};

// What one call (a fit, a prediction) may use, passed by reference down every stage.
//
// Threads: at most threads() threads compute at once; with 1 no thread is started at
// all. Which thread computes what never changes a result, so the budget changes only
// the speed.
//
// Interruption: the poll, when there is one, runs only on the thread that created the
// context (the binding's poll needs the interpreter lock that this thread holds). Long
// loops call check() at their boundaries, on any thread: on the creating thread it
// polls, on others it reads the flag that a poll raised; once the call is to stop it
// throws Interrupted there and at every later check. Checks are meant to come at least
// every few milliseconds of work and not much more often than every microsecond.
//
// Thread starts go through start_thread(), a seam through which tests make the system
// refuse a thread or count the threads started.
//
// Workers: run_on_worker() runs a body on a thread this context started for an earlier
// body that has returned, or on a new one. The passes of a call (dozens in a fit) then
// share a few threads instead of starting their own, each start costing tens of
// microseconds and its stack's pages faulted in again. A worker waits, parked, for its
// next body until the context goes away.
//
// Not copyable: the stages of one call share one stop flag and one set of workers.
class ExecutionContext {
  public:
    // Returns true when the call is to stop. Called only on the creating thread.
    using Poll = std::function<bool()>;
    // Starts a thread running `body`; throws std::system_error when none can be started.
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    // Every available processor, no poll, plain thread starts.
    ExecutionContext();
    // At most `threads` threads (0 counts as 1).
    explicit ExecutionContext(std::size_t threads, Poll poll = {}, ThreadStarter start = {});

    ExecutionContext(const ExecutionContext&) = delete;
    ExecutionContext& operator=(const ExecutionContext&) = delete;
    // Ends and joins the parked workers; every WorkerRun must have been finished.
    ~ExecutionContext();

    std::size_t threads() const { return threads_; }

    // Throws Interrupted when the call is to stop (see above).
    void check() const {
        if (stop_requested() || (poll_ && on_creating_thread() && poll_now())) throw Interrupted();
    }

    // Loop steps of a few nanoseconds between two checks.
    static constexpr std::size_t SHORT_STEPS_PER_CHECK = std::size_t{1} << 14;

    // check() whenever `counter` is a multiple of `interval`, a power of two: in loops
    // whose steps are too short for a check each.
    void check_every(std::size_t counter, std::size_t interval = SHORT_STEPS_PER_CHECK) const {
        if ((counter & (interval - 1)) == 0) check();
    }

    // For the creating thread while it waits for workers: polls and reports, without
    // throwing, whether the call is to stop.
    bool poll() const { return stop_requested() || (poll_ && on_creating_thread() && poll_now()); }

    // Whether a poll has asked the call to stop; any thread, no poll of its own.
    bool stop_requested() const { return stopped_.load(std::memory_order_relaxed); }

    std::thread start_thread(std::function<void()> body) const;

    class Worker;

    // One body handed to a worker; finish() (or the destructor) waits until the body
    // has returned and parks the worker for the next one.
    class WorkerRun {
      public:
        WorkerRun(const ExecutionContext& context, Worker* worker)
            : context_(&context), worker_(worker) {}
        WorkerRun(WorkerRun&& other) noexcept
            : context_(other.context_), worker_(std::exchange(other.worker_, nullptr)) {}
        WorkerRun(const WorkerRun&) = delete;
        WorkerRun& operator=(const WorkerRun&) = delete;
        WorkerRun& operator=(WorkerRun&&) = delete;
        ~WorkerRun() { finish(); }

        void finish() noexcept;

      private:
        const ExecutionContext* context_;
        Worker* worker_;
    };

    // Runs `body` on an idle worker of this context, or on a new thread started through
    // start_thread() (and kept as a worker), which throws std::system_error when the
    // system refuses it. `body` must not throw.
    WorkerRun run_on_worker(std::function<void()> body) const;

  private:
    void park(Worker* worker) const noexcept;

    bool on_creating_thread() const { return std::this_thread::get_id() == creator_; }
    bool poll_now() const;

    std::size_t threads_;
    Poll poll_;
    ThreadStarter start_;
    std::thread::id creator_;
    mutable std::atomic<bool> stopped_{false};
    mutable std::mutex workers_mutex_;
    mutable std::vector<std::unique_ptr<Worker>> workers_;
    // Has room for every worker, so that parking never allocates.
    mutable std::vector<Worker*> idle_;
};

// Calls step(i) for i = begin, ..., end - 1, checking `context` before every
// SHORT_STEPS_PER_CHECK steps: for loops whose steps are too short for a check each.
// The steps between two checks run in a loop of their own, as tight as one without
// checks; check_every inside the loop is a call on one of its paths, after which the
// compiler reloads whatever the loop reads through pointers.
template <class Step>
void for_each_checked(const ExecutionContext& context, std::size_t begin, std::size_t end,
                      Step&& step) {
    while (begin < end) {
        context.check();
        const std::size_t stop = end - begin > ExecutionContext::SHORT_STEPS_PER_CHECK
                                     ? begin + ExecutionContext::SHORT_STEPS_PER_CHECK
                                     : end;
        for (; begin < stop; ++begin)
            step(begin);
    }
}

// The same from end - 1 down to begin.
template <class Step>
void for_each_checked_descending(const ExecutionContext& context, std::size_t begin,
                                 std::size_t end, Step&& step) {
    while (end > begin) {
        context.check();
        const std::size_t stop = end - begin > ExecutionContext::SHORT_STEPS_PER_CHECK
                                     ? end - ExecutionContext::SHORT_STEPS_PER_CHECK
                                     : begin;
        while (end > stop)
            step(--end);
    }
}

}  // namespace corvane
