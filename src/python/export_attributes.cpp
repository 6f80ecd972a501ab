// The fitted hierarchy as NumPy arrays: condensed_tree_, single_linkage_tree_,
// minimum_spanning_tree_, core_distances_ and exemplars_.
#define PY_SSIZE_T_CLEAN
#include "python/export_attributes.hpp"

#include "model_exports/cluster_exports.hpp"
#include "model_exports/hierarchy_tables.hpp"
#include "python/array_exchange.hpp"
#include "python/fitted_reads.hpp"

namespace corvane::python {

const char condensed_tree_doc[] =
    "Condensed tree after fitting: a structured array with one record (parent, child,\n"
    "lambda_val, child_size) per edge, in the order of the fit. Clusters are numbered from\n"
    "n_samples (the root) up, points are 0 .. n_samples - 1; lambda_val is 1 / distance.";
const char single_linkage_tree_doc[] =
    "Single-linkage tree after fitting, in SciPy's linkage format: an (n_samples - 1) x 4\n"
    "array of (left, right, distance, size), distances in the units of the data.";
const char minimum_spanning_tree_doc[] =
    "Minimum spanning tree of the mutual-reachability graph after fitting: an\n"
    "(n_samples - 1) x 3 array of (point, point, distance), sorted by distance.";
const char core_distances_doc[] = "Core distance of each point after fitting.";
const char exemplars_doc[] =
    "Exemplars of each cluster after fitting: a list, in label order, of int64 arrays of\n"
    "training rows, the points that leave each leaf of the condensed tree under the\n"
    "cluster last.";

PyObject* get_condensed_tree(PyObject* self, void*) {
    return read_fitted(self, [](const FittedModel& model) {
        return move_to_record_array(condensed_edges(model));
    });
}

PyObject* get_single_linkage_tree(PyObject* self, void*) {
    return read_fitted(
        self, [](const FittedModel& model) { return move_to_array(single_linkage_matrix(model)); });
}

PyObject* get_minimum_spanning_tree(PyObject* self, void*) {
    return read_fitted(
        self, [](const FittedModel& model) { return move_to_array(spanning_tree_table(model)); });
}

PyObject* get_core_distances(PyObject* self, void*) {
    return read_fitted(
        self, [](const FittedModel& model) { return move_to_array(core_distances(model)); });
}

PyObject* get_exemplars(PyObject* self, void*) {
    return read_fitted(self, [](const FittedModel& model) -> PyObject* {
        const PointsByCluster lists = exemplars(model);
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(lists.clusters()));  // owned
        if (list == nullptr) return nullptr;
        for (std::size_t k = 0; k < lists.clusters(); ++k) {
            PyObject* points = copy_to_index_array(lists.of(k));
            if (points == nullptr) {
                Py_DECREF(list);
                return nullptr;
            }
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), points);  // steals
        }
        return list;
    });
}

}  // namespace corvane::python
