#include "python/call_context.hpp"

#include <Python.h>

#include "python/parameters.hpp"

namespace corvane::python {

ExecutionContext call_context(const std::optional<std::size_t>& n_jobs) {
    // PyErr_CheckSignals runs the pending handlers; one that raises leaves its exception
    // set, and the call ends with it once every worker is joined.
    return ExecutionContext(thread_budget(n_jobs), [] { return PyErr_CheckSignals() != 0; });
}

}  // namespace corvane::python
