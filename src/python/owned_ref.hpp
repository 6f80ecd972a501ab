#pragma once

#include <Python.h>

#include <utility>

namespace corvane::python {

// An owned reference to a Python object (or none). Copies take a new reference, the
// destructor releases it; the interpreter lock must be held for all of that.
class OwnedRef {
  public:
    OwnedRef() = default;
    // Takes over a new reference (null stays empty).
    static OwnedRef steal(PyObject* object) { return OwnedRef(object); }
    // Takes a reference of its own to a borrowed object.
    static OwnedRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    OwnedRef(const OwnedRef& other) : object_(other.object_) { Py_XINCREF(object_); }
    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller.
    PyObject* release() { return std::exchange(object_, nullptr); }

  private:
    explicit OwnedRef(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace corvane::python
