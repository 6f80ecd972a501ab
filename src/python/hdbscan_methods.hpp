#pragma once

#include <Python.h>

namespace corvane::python {

// The method table of HDBSCAN (fit, fit_predict, approximate_predict).
extern PyMethodDef hdbscan_methods[];

}  // namespace corvane::python
