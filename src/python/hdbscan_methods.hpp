#pragma once

#include <Python.h>

namespace corvane::python {

// The method table of HDBSCAN: fitting, prediction, and the reads of the fitted hierarchy.
extern PyMethodDef hdbscan_methods[];

}  // namespace corvane::python
