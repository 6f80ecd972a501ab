#pragma once

#include <Python.h>

namespace corvane::python {

// The method table of HDBSCAN: fitting, prediction, the reads of the fitted hierarchy and
// the scikit-learn protocol.
extern PyMethodDef hdbscan_methods[];

}  // namespace corvane::python
