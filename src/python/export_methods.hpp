#pragma once

#include <Python.h>

namespace corvane::python {

// dbscan_clustering(cut_distance, min_cluster_size=5), cluster_centroids() and
// cluster_medoids(): flat cuts and centres computed from the fitted model on each call.
PyObject* hdbscan_dbscan_clustering(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* hdbscan_cluster_centroids(PyObject* self, PyObject* unused);
PyObject* hdbscan_cluster_medoids(PyObject* self, PyObject* unused);

extern const char dbscan_clustering_doc[];
extern const char cluster_centroids_doc[];
extern const char cluster_medoids_doc[];

}  // namespace corvane::python
