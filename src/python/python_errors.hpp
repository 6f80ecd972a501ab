#pragma once

#include <Python.h>

#include <exception>
#include <new>

#include "common/hdbscan_error.hpp"
#include "common/internal_error.hpp"

namespace corvane::python {

// The module's internal-error exception type (derives directly from
// BaseException). Owned by the module for the life of the process.
extern PyObject* internal_error_type;

// Creates internal_error_type; returns false with a Python error set.
bool create_internal_error_type();

// Raises an HdbscanError as ValueError; always returns nullptr.
PyObject* raise_hdbscan_error(const HdbscanError& error);

// Raises the internal-error exception with `message`; always returns nullptr.
PyObject* raise_internal_error(const char* message);

// Translates the C++ exception being handled into a Python exception:
// std::bad_alloc -> MemoryError, Interrupted -> the exception that the signal
// handler raised (KeyboardInterrupt for Ctrl-C), anything else -> the internal
// error.
void raise_current_cpp_exception() noexcept;

// Runs `body` with the C++ exception firewall of every entry point: no C++
// exception ever escapes into the interpreter.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_current_cpp_exception();
        return failure;
    }
}

}  // namespace corvane::python
