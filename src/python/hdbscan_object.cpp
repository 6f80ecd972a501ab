// The HDBSCAN type: lifetime, text form and the read-only fitted attributes.
#define PY_SSIZE_T_CLEAN
#include "python/hdbscan_object.hpp"

#include "common/float_text.hpp"
#include "python/array_exchange.hpp"
#include "python/export_attributes.hpp"
#include "python/fitted_reads.hpp"
#include "python/hdbscan_methods.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {
namespace {

void hdbscan_dealloc(PyObject* self) {
    delete reinterpret_cast<HdbscanObject*>(self)->state;
    Py_TYPE(self)->tp_free(self);
}

PyObject* hdbscan_repr(PyObject* self) {
    return guarded<PyObject*>(nullptr, [&] {
        const std::string text = constructor_text(state_of(self).arguments);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* get_labels(PyObject* self, void*) {
    return read_fitted(self, [](const FittedModel& m) { return copy_to_array(m.labels); });
}
PyObject* get_probabilities(PyObject* self, void*) {
    return read_fitted(self, [](const FittedModel& m) { return copy_to_array(m.probabilities); });
}
PyObject* get_outlier_scores(PyObject* self, void*) {
    return read_fitted(self, [](const FittedModel& m) { return copy_to_array(m.outlier_scores); });
}
PyObject* get_cluster_persistence(PyObject* self, void*) {
    return read_fitted(self,
                       [](const FittedModel& m) { return copy_to_array(m.cluster_persistence); });
}
PyObject* get_n_features_in(PyObject* self, void*) {
    const auto& n_features_in = state_of(self).n_features_in;
    if (!n_features_in) {
        PyErr_SetString(PyExc_ValueError, not_fitted_message);
        return nullptr;
    }
    return PyLong_FromSize_t(*n_features_in);
}

#ifdef CORVANE_STAGE_TIMINGS
// Benchmark builds only: seconds per stage of the last successful fit.
PyObject* get_stage_seconds(PyObject* self, void*) {
    return read_fitted(self, [&](const FittedModel&) -> PyObject* {
        const StageTimes& times = state_of(self).stage_times;
        return Py_BuildValue("{s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d}", "core_distances",
                             times.core_distances, "spanning_tree", times.spanning_tree,
                             "hierarchy", times.hierarchy, "single_linkage", times.single_linkage,
                             "condensed_tree", times.condensed_tree, "selection", times.selection,
                             "labels", times.labels, "probabilities", times.probabilities,
                             "outlier_scores", times.outlier_scores);
    });
}

// Benchmark builds only: bytes the fitted model holds at rest, by part.
PyObject* get_model_bytes(PyObject* self, void*) {
    return read_fitted(self, [](const FittedModel& model) -> PyObject* {
        const ModelBytes bytes = model.bytes();
        return Py_BuildValue("{s:n,s:n,s:n,s:n}", "training_data",
                             static_cast<Py_ssize_t>(bytes.training_data), "core_distances",
                             static_cast<Py_ssize_t>(bytes.core_distances), "hierarchy",
                             static_cast<Py_ssize_t>(bytes.hierarchy), "results",
                             static_cast<Py_ssize_t>(bytes.results));
    });
}
#endif

PyGetSetDef hdbscan_getset[] = {
    {"labels_", get_labels, nullptr, PyDoc_STR("Cluster labels after fitting. -1 indicates noise."),
     nullptr},
    {"probabilities_", get_probabilities, nullptr,
     PyDoc_STR("Membership probabilities after fitting."), nullptr},
    {"outlier_scores_", get_outlier_scores, nullptr,
     PyDoc_STR("GLOSH outlier scores after fitting."), nullptr},
    {"cluster_persistence_", get_cluster_persistence, nullptr,
     PyDoc_STR("Cluster persistence values after fitting."), nullptr},
    {"n_features_in_", get_n_features_in, nullptr, PyDoc_STR("Number of features seen during fit."),
     nullptr},
    {"condensed_tree_", get_condensed_tree, nullptr, condensed_tree_doc, nullptr},
    {"single_linkage_tree_", get_single_linkage_tree, nullptr, single_linkage_tree_doc, nullptr},
    {"minimum_spanning_tree_", get_minimum_spanning_tree, nullptr, minimum_spanning_tree_doc,
     nullptr},
    {"core_distances_", get_core_distances, nullptr, core_distances_doc, nullptr},
    {"exemplars_", get_exemplars, nullptr, exemplars_doc, nullptr},
#ifdef CORVANE_STAGE_TIMINGS
    {"_stage_seconds_", get_stage_seconds, nullptr,
     PyDoc_STR("Seconds per stage of the last fit (benchmark builds only)."), nullptr},
    {"_model_bytes_", get_model_bytes, nullptr,
     PyDoc_STR("Bytes the fitted model holds, by part (benchmark builds only)."), nullptr},
#endif
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyDoc_STRVAR(hdbscan_doc,
             "HDBSCAN(min_cluster_size=5, min_samples=None, metric=\"euclidean\", p=None, "
             "alpha=1.0, cluster_selection_epsilon=0.0, cluster_selection_method=\"eom\", "
             "allow_single_cluster=False)\n--\n\n"
             "HDBSCAN clustering algorithm.\n\n"
             "A high-performance native implementation of hierarchical density-based\n"
             "clustering with excess-of-mass or leaf cluster selection, membership\n"
             "probabilities and GLOSH outlier scores.");

PyTypeObject make_hdbscan_type() {
    PyTypeObject type = {PyVarObject_HEAD_INIT(nullptr, 0)};
    type.tp_name = "corvane.HDBSCAN";
    type.tp_basicsize = sizeof(HdbscanObject);
    type.tp_dealloc = hdbscan_dealloc;
    type.tp_repr = hdbscan_repr;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = hdbscan_doc;
    type.tp_methods = hdbscan_methods;
    type.tp_getset = hdbscan_getset;
    type.tp_new = hdbscan_new;
    return type;
}

}  // namespace

PyTypeObject hdbscan_type = make_hdbscan_type();

std::string constructor_text(const ConstructorArguments& arguments) {
    std::string text = "HDBSCAN(min_cluster_size=" + std::to_string(arguments.min_cluster_size);
    text += ", min_samples=";
    text += arguments.min_samples ? std::to_string(*arguments.min_samples) : "None";
    text += ", metric='" + arguments.metric;
    text += "', alpha=" + float_text(arguments.alpha);
    text += ", cluster_selection_epsilon=" + float_text(arguments.cluster_selection_epsilon);
    text += ", cluster_selection_method='" + arguments.cluster_selection_method;
    text += "', allow_single_cluster=";
    text += arguments.allow_single_cluster ? "true" : "false";
    text += ")";
    return text;
}

}  // namespace corvane::python
