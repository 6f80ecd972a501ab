#pragma once

#include <Python.h>

namespace corvane::python {

// scikit-learn's estimator protocol: get_params, set_params, __sklearn_tags__ and
// __sklearn_is_fitted__.
PyObject* hdbscan_get_params(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* hdbscan_set_params(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* hdbscan_sklearn_tags(PyObject* self, PyObject* unused);
PyObject* hdbscan_sklearn_is_fitted(PyObject* self, PyObject* unused);

extern const char get_params_doc[];
extern const char set_params_doc[];
extern const char sklearn_tags_doc[];
extern const char sklearn_is_fitted_doc[];

}  // namespace corvane::python
