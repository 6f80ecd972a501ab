#pragma once

#include <Python.h>

namespace corvane::python {

PyObject* hdbscan_approximate_predict(PyObject* self, PyObject* args, PyObject* kwargs);

extern const char approximate_predict_doc[];

}  // namespace corvane::python
