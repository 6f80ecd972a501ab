#pragma once

#include <Python.h>

namespace corvane::python {

// Getters of the fitted hierarchy: each read builds fresh arrays from the model.
PyObject* get_condensed_tree(PyObject* self, void*);
PyObject* get_single_linkage_tree(PyObject* self, void*);
PyObject* get_minimum_spanning_tree(PyObject* self, void*);
PyObject* get_core_distances(PyObject* self, void*);
PyObject* get_exemplars(PyObject* self, void*);

extern const char condensed_tree_doc[];
extern const char single_linkage_tree_doc[];
extern const char minimum_spanning_tree_doc[];
extern const char core_distances_doc[];
extern const char exemplars_doc[];

}  // namespace corvane::python
