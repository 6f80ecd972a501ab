#include "python/python_errors.hpp"

#include <string>

#include "parallel/execution_context.hpp"

namespace corvane::python {

PyObject* internal_error_type = nullptr;

bool create_internal_error_type() {
    if (internal_error_type != nullptr) return true;
    internal_error_type = PyErr_NewExceptionWithDoc(
        "corvane.InternalError",
        "A broken internal invariant of corvane (a bug, not a problem with the input).",
        PyExc_BaseException, nullptr);
    return internal_error_type != nullptr;
}

PyObject* raise_hdbscan_error(const HdbscanError& error) {
    const std::string message = error.message();
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return nullptr;
}

PyObject* raise_internal_error(const char* message) {
    PyErr_SetString(internal_error_type, message);
    return nullptr;
}

void raise_current_cpp_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const Interrupted&) {
        // The poll that stopped the call left the handler's exception set.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const std::exception& error) {
        raise_internal_error(error.what());
    } catch (...) {
        raise_internal_error("unknown internal error");
    }
}

}  // namespace corvane::python
