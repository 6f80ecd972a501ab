#pragma once

#include <cstddef>
#include <functional>

#include "parallel/execution_context.hpp"

namespace corvane {

// Runs `workers` workers through a sequence of rounds in lockstep, for loops
// whose steps are each parallel but too short (microseconds) to start threads
// for. In each round every worker w calls round(w); once all of them have
// returned, between() runs on exactly one thread while the others wait, and
// returns whether another round follows. Whatever round(w) wrote is visible to
// between(), and whatever between() wrote is visible to every worker's next
// round. Worker 0 is the calling thread; the other workers - 1 run on the
// context's worker threads (ExecutionContext::run_on_worker) and have all
// returned before the call does. With one worker no thread is used and nothing
// is synchronised. When the system refuses a thread, the threads that did start
// share the workers (thread t runs round(w) for every w = t modulo their count,
// one after the other), so round(w) must not wait for another worker of its
// round.
//
// Before each round the calling thread polls `context`; an interruption ends the
// run after the current round, as a failure does. round(w) may call
// context.check() itself when a round can take long.
//
// A failure (round or between throwing, or an interruption) ends the run after
// the current round: every worker completes that round, no further between()
// runs, every worker returns, and the first failure is rethrown as
// run_tasks does.
void run_lockstep(const ExecutionContext& context, std::size_t workers,
                  const std::function<void(std::size_t)>& round,
                  const std::function<bool()>& between);

}  // namespace corvane
