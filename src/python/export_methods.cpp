// Methods that read the fitted hierarchy: DBSCAN* cuts and cluster centres.
#define PY_SSIZE_T_CLEAN
#include "python/export_methods.hpp"

#include <cstdint>
#include <limits>

#include "cluster_centres/cluster_centres.hpp"
#include "model_exports/cluster_exports.hpp"
#include "python/array_exchange.hpp"
#include "python/call_context.hpp"
#include "python/fitted_reads.hpp"

namespace corvane::python {

const char dbscan_clustering_doc[] =
    "dbscan_clustering($self, cut_distance, min_cluster_size=5)\n--\n\n"
    "DBSCAN* labels at one radius, read off the fitted hierarchy.\n\n"
    "Two points share a cluster when a path of mutual-reachability distances no longer\n"
    "than cut_distance joins them in the fitted minimum spanning tree; this is the flat\n"
    "cut of single_linkage_tree_ at that distance. Groups of fewer than min_cluster_size\n"
    "points are noise. Clusters are numbered from 0 in the order of their first point.\n\n"
    "Parameters\n----------\n"
    "cut_distance : float\n    Radius, in the units of the data; at least 0, inf gives one "
    "cluster.\n"
    "min_cluster_size : int, default=5\n    Smallest group that counts as a cluster, at least "
    "1.\n\n"
    "Returns\n-------\n"
    "labels : numpy.ndarray of shape (n_samples,)\n    Cluster labels (int32). -1 indicates noise.";

const char cluster_centroids_doc[] =
    "cluster_centroids($self)\n--\n\n"
    "Centroid of each cluster: the mean of its points weighted by their membership\n"
    "probabilities, in label order. Not available for metric='precomputed'.\n\n"
    "Returns\n-------\n"
    "centroids : numpy.ndarray of shape (n_clusters, n_features)";

const char cluster_medoids_doc[] =
    "cluster_medoids($self)\n--\n\n"
    "Medoid of each cluster: the member with the smallest sum of distances to the other\n"
    "members, each weighted by its membership probability, under the fitted metric (rows\n"
    "of the fitted matrix for metric='precomputed'). Exact; sums equal up to rounding go to\n"
    "the lowest training row.\n\n"
    "Returns\n-------\n"
    "medoids : numpy.ndarray of shape (n_clusters,)\n"
    "    Training row of each cluster's medoid (int64), -1 for a cluster without points.";

namespace {

// A ValueError naming the argument and the type it was given.
void raise_wrong_type(const char* name, const char* expected, PyObject* value) {
    PyErr_Format(PyExc_ValueError, "%s must be %s, not %.200s", name, expected,
                 Py_TYPE(value)->tp_name);
}

// Anything float() takes except bool; the value is checked later.
bool convert_cut(PyObject* value, double& out) {
    if (!PyBool_Check(value)) {
        const double converted = PyFloat_AsDouble(value);
        if (!(converted == -1.0 && PyErr_Occurred())) {
            out = converted;
            return true;
        }
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
    }
    raise_wrong_type("cut_distance", "a real number", value);
    return false;
}

// An integer (or __index__) other than bool, clamped to the signed 64-bit range; the
// value is checked later.
bool convert_size(PyObject* value, std::int64_t& out) {
    PyObject* index = PyBool_Check(value) ? nullptr : PyNumber_Index(value);  // owned
    if (index == nullptr) {
        if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
        raise_wrong_type("min_cluster_size", "an integer", value);
        return false;
    }
    int overflow = 0;
    const long long converted = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (converted == -1 && overflow == 0 && PyErr_Occurred()) return false;
    out = overflow > 0   ? std::numeric_limits<std::int64_t>::max()
          : overflow < 0 ? std::numeric_limits<std::int64_t>::min()
                         : static_cast<std::int64_t>(converted);
    return true;
}

}  // namespace

PyObject* hdbscan_dbscan_clustering(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"cut_distance", "min_cluster_size", nullptr};
    PyObject* cut_argument = nullptr;   // borrowed
    PyObject* size_argument = nullptr;  // borrowed
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:dbscan_clustering",
                                     const_cast<char**>(keywords), &cut_argument, &size_argument)) {
        return nullptr;
    }
    double cut = 0.0;
    std::int64_t min_cluster_size = 5;
    if (!convert_cut(cut_argument, cut)) return nullptr;
    if (size_argument != nullptr && !convert_size(size_argument, min_cluster_size)) return nullptr;
    return read_fitted(self, [&](const FittedModel& model) -> PyObject* {
        Expected<std::vector<std::int32_t>> labels =
            dbscan_clustering(model, cut, min_cluster_size);
        if (!labels) return raise_hdbscan_error(labels.error());
        return move_to_array(std::move(*labels));
    });
}

PyObject* hdbscan_cluster_centroids(PyObject* self, PyObject*) {
    return read_fitted(self, [](const FittedModel& model) -> PyObject* {
        Expected<DataMatrix> centroids = cluster_centroids(model);
        if (!centroids) return raise_hdbscan_error(centroids.error());
        return move_to_array(std::move(*centroids));
    });
}

PyObject* hdbscan_cluster_medoids(PyObject* self, PyObject*) {
    return read_fitted(self, [&](const FittedModel& model) {
        const ExecutionContext context = call_context(state_of(self).parameters.n_jobs);
        return copy_to_index_array(cluster_medoids(model, context), NO_MEDOID);
    });
}

}  // namespace corvane::python
