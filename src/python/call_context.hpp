#pragma once

#include <cstddef>
#include <optional>

#include "parallel/execution_context.hpp"

namespace corvane::python {

// The execution context of one fit or prediction called from Python: at most the
// processors that `n_jobs` allows, and a poll that runs the interpreter's signal
// handlers, so that Ctrl-C (or any handler that raises) stops the call with that
// exception. Make it on the calling thread, which holds the interpreter lock for the
// whole call.
ExecutionContext call_context(const std::optional<std::size_t>& n_jobs);

}  // namespace corvane::python
