#pragma once

#include <Python.h>

namespace corvane::python {

// Soft clustering: membership vectors of the training points and of new points, and
// outlier scores of new points.
PyObject* hdbscan_all_points_membership_vectors(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* hdbscan_membership_vectors(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* hdbscan_approximate_outlier_scores(PyObject* self, PyObject* args, PyObject* kwargs);

extern const char all_points_membership_vectors_doc[];
extern const char membership_vectors_doc[];
extern const char approximate_outlier_scores_doc[];

}  // namespace corvane::python
