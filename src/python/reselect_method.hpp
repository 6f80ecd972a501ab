#pragma once

#include <Python.h>

namespace corvane::python {

PyObject* hdbscan_reselect(PyObject* self, PyObject* args, PyObject* kwargs);

extern const char reselect_doc[];

}  // namespace corvane::python
