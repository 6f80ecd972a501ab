#pragma once

#include <Python.h>

namespace corvane::python {

// Saving and loading (pickle, copy, joblib): __reduce__ makes the object from its state
// through HDBSCAN() and __setstate__, which checks every field of a state before it
// changes anything.
PyObject* hdbscan_reduce(PyObject* self, PyObject* unused);
PyObject* hdbscan_getstate(PyObject* self, PyObject* unused);
PyObject* hdbscan_setstate(PyObject* self, PyObject* state);
// copy.deepcopy without copying the model's arrays twice (once as a state, once on
// loading it).
PyObject* hdbscan_deepcopy(PyObject* self, PyObject* memo);

extern const char reduce_doc[];
extern const char getstate_doc[];
extern const char setstate_doc[];
extern const char deepcopy_doc[];

}  // namespace corvane::python
