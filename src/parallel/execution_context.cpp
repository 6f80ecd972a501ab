#include "parallel/execution_context.hpp"

#include <algorithm>
#include <utility>

#include "parallel/parallel.hpp"

namespace corvane {

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

}  // namespace corvane
