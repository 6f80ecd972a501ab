#pragma once

#include <cstddef>
#include <functional>

namespace corvane {

// Runs `workers` threads through a sequence of rounds in lockstep, for loops
// whose steps are each parallel but too short (microseconds) to start threads
// for. In each round every worker w calls round(w); once all of them have
// returned, between() runs on exactly one worker while the others wait, and
// returns whether another round follows. Whatever round(w) wrote is visible to
// between(), and whatever between() wrote is visible to every worker's next
// round. Worker 0 is the calling thread; the other workers - 1 threads are
// started once per call and joined before it returns. With one worker nothing
// is started and nothing is synchronised.
//
// A failure (a thread that cannot be started, or round or between throwing)
// ends the run after the current round: every worker completes that round, no
// further between() runs, every started thread is joined, and the first
// failure is rethrown as run_tasks does ("failed to spawn thread" for a thread
// that could not be started).
void run_lockstep(std::size_t workers, const std::function<void(std::size_t)>& round,
                  const std::function<bool()>& between);

}  // namespace corvane
