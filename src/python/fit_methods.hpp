#pragma once

#include <Python.h>

namespace corvane::python {

PyObject* hdbscan_fit(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* hdbscan_fit_predict(PyObject* self, PyObject* args, PyObject* kwargs);

extern const char fit_doc[];
extern const char fit_predict_doc[];

}  // namespace corvane::python
