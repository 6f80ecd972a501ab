#pragma once

#include <Python.h>

#include <memory>
#include <optional>
#include <utility>

#include "common/data_matrix.hpp"
#include "model/fitted_model.hpp"
#include "python/array_exchange.hpp"
#include "python/call_context.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

// Calls `compute(model, context)` behind the exception firewall on the fitted model,
// with the execution context of the object's n_jobs; raises the not-fitted error when
// there is none. The model is held for the call, in case a signal handler run meanwhile
// installs another. The interpreter lock is held for the whole call; a handler may run a
// call of its own in the middle of it, which completes before this one goes on, so the
// model sees one call at a time.
template <class Compute>
PyObject* with_fitted_model(PyObject* self, Compute&& compute) {
    HdbscanState& state = state_of(self);
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        const std::shared_ptr<FittedModel> model = state.model;
        if (model == nullptr) return raise_hdbscan_error(HdbscanError::not_fitted());
        const ExecutionContext context = call_context(state.parameters.n_jobs);
        return compute(*model, context);
    });
}

// The same with `x` converted first (its conversion errors come before the not-fitted
// one): `compute(model, points, context)`.
template <class Compute>
PyObject* with_fitted_points(PyObject* self, PyObject* x, Compute&& compute) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        std::optional<DataMatrix> points = to_data_matrix(x);
        if (!points) return nullptr;
        return with_fitted_model(self, [&](FittedModel& model, const ExecutionContext& context) {
            return compute(model, std::move(*points), context);
        });
    });
}

}  // namespace corvane::python
