#pragma once

#include <Python.h>

#include <memory>

#include "model/fitted_model.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

// What reading a fitted attribute, or calling a method that reads the fitted model, raises
// on an object without one.
inline constexpr const char* not_fitted_message = "Model has not been fitted yet";

// Calls `read(model)` behind the exception firewall when fitted, else raises ValueError
// with not_fitted_message. The model is held for the call, in case a signal handler run
// meanwhile installs another.
template <class Read>
PyObject* read_fitted(PyObject* self, Read&& read) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        const std::shared_ptr<const FittedModel> model = state_of(self).model;
        if (model == nullptr) {
            PyErr_SetString(PyExc_ValueError, not_fitted_message);
            return nullptr;
        }
        return read(*model);
    });
}

}  // namespace corvane::python
