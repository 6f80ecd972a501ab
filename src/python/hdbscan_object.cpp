// The HDBSCAN type: lifetime, text form, and the read-only parameters and fitted
// attributes.
#define PY_SSIZE_T_CLEAN
#include "python/hdbscan_object.hpp"

#include <cstddef>

#include "common/float_text.hpp"
#include "python/array_exchange.hpp"
#include "python/export_attributes.hpp"
#include "python/fitted_reads.hpp"
#include "python/hdbscan_methods.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {
namespace {

PyObject* hdbscan_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        auto state = std::make_unique<HdbscanState>();
        if (!bind_parameters(args, kwargs, state->objects)) return nullptr;
        std::optional<Parameters> parameters = convert_parameters(state->objects);
        if (!parameters) return nullptr;
        state->parameters = std::move(*parameters);
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        reinterpret_cast<HdbscanObject*>(self)->state = state.release();
        return self;
    });
}

// The parameter objects and the instance dictionary can hold references back to the
// object (a pipeline that holds it, say), so the type takes part in garbage collection.
int hdbscan_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* object = reinterpret_cast<HdbscanObject*>(self);
    Py_VISIT(object->dict);
    if (object->state != nullptr) {
        for (const OwnedRef& parameter : object->state->objects)
            Py_VISIT(parameter.get());
    }
    return 0;
}

// Breaks cycles; the object stays usable: get_params then reports None for the
// parameters, whose meaning in `parameters` is kept.
int hdbscan_clear(PyObject* self) {
    auto* object = reinterpret_cast<HdbscanObject*>(self);
    Py_CLEAR(object->dict);
    if (object->state != nullptr) {
        for (OwnedRef& parameter : object->state->objects)
            parameter = OwnedRef::borrow(Py_None);
    }
    return 0;
}

void hdbscan_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    hdbscan_clear(self);
    delete reinterpret_cast<HdbscanObject*>(self)->state;
    Py_TYPE(self)->tp_free(self);
}

PyObject* hdbscan_repr(PyObject* self) {
    return guarded<PyObject*>(nullptr, [&] {
        const std::string text = constructor_text(state_of(self).parameters.arguments);
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

// The object a parameter was given as (or its default), by its index in
// parameter_names: the getters share one function, told apart by their closure.
PyObject* get_parameter(PyObject* self, void* closure) {
    PyObject* value = state_of(self).objects[reinterpret_cast<std::size_t>(closure)].get();
    Py_INCREF(value);
    return value;
}

#ifdef CORVANE_STAGE_TIMINGS
PyObject* stage_dict(const StageValues& values) {
    return Py_BuildValue("{s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d}", "core_distances",
                         values.core_distances, "spanning_tree", values.spanning_tree, "hierarchy",
                         values.hierarchy, "single_linkage", values.single_linkage,
                         "condensed_tree", values.condensed_tree, "selection", values.selection,
                         "labels", values.labels, "probabilities", values.probabilities,
                         "outlier_scores", values.outlier_scores);
}

// Benchmark builds only: seconds per stage of the last successful fit.
PyObject* get_stage_seconds(PyObject* self, void*) {
    return read_fitted(self, [&](const FittedModel&) -> PyObject* {
        return stage_dict(state_of(self).stage_times);
    });
}

// Benchmark builds only: the process's peak resident bytes during each stage of the last
// successful fit.
PyObject* get_stage_peak_bytes(PyObject* self, void*) {
    return read_fitted(self, [&](const FittedModel&) -> PyObject* {
        return stage_dict(state_of(self).stage_times.peak_bytes);
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

PyGetSetDef parameter_getter(std::size_t index) {
    return {parameter_names[index], get_parameter, nullptr,
            PyDoc_STR("Constructor parameter (read-only; change it with set_params)."),
            reinterpret_cast<void*>(index)};
}

static_assert(PARAMETER_COUNT == 11, "one getter per parameter below");
PyGetSetDef hdbscan_getset[] = {
    parameter_getter(0),
    parameter_getter(1),
    parameter_getter(2),
    parameter_getter(3),
    parameter_getter(4),
    parameter_getter(5),
    parameter_getter(6),
    parameter_getter(7),
    parameter_getter(8),
    parameter_getter(9),
    parameter_getter(10),
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
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
    {"_stage_peak_bytes_", get_stage_peak_bytes, nullptr,
     PyDoc_STR("Peak resident bytes per stage of the last fit (benchmark builds only)."), nullptr},
    {"_model_bytes_", get_model_bytes, nullptr,
     PyDoc_STR("Bytes the fitted model holds, by part (benchmark builds only)."), nullptr},
#endif
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyDoc_STRVAR(hdbscan_doc,
             "HDBSCAN(min_cluster_size=5, min_samples=None, metric=\"euclidean\", p=None, "
             "alpha=1.0, cluster_selection_epsilon=0.0, cluster_selection_method=\"eom\", "
             "allow_single_cluster=False, *, n_jobs=None, max_cluster_size=None, "
             "cluster_selection_epsilon_max=None)\n--\n\n"
             "HDBSCAN clustering algorithm.\n\n"
             "A high-performance native implementation of hierarchical density-based\n"
             "clustering with excess-of-mass or leaf cluster selection, membership\n"
             "probabilities and GLOSH outlier scores.\n\n"
             "Caps on the selection (keyword-only, None for no cap):\n\n"
             "max_cluster_size : int or None\n"
             "    At least min_cluster_size. A cluster of more points is not selected\n"
             "    while the clusters below it offer a selection within the caps.\n"
             "cluster_selection_epsilon_max : float or None\n"
             "    Greater than cluster_selection_epsilon. A cluster born at a larger\n"
             "    mutual-reachability distance (in the units of the data) is not\n"
             "    selected while the clusters below it offer a selection within the\n"
             "    caps.\n\n"
             "Both caps work alike for 'eom' and 'leaf'. A cluster over a cap with no\n"
             "cluster within the caps below it (a leaf larger than max_cluster_size, say)\n"
             "is kept, and the merge of cluster_selection_epsilon stops below any\n"
             "cluster over a cap. The constructor, set_params and reselect check every\n"
             "value and both relations; fit checks the relations again.");

PyTypeObject make_hdbscan_type() {
    PyTypeObject type = {PyVarObject_HEAD_INIT(nullptr, 0)};
    type.tp_name = "corvane.HDBSCAN";
    type.tp_basicsize = sizeof(HdbscanObject);
    type.tp_dictoffset = offsetof(HdbscanObject, dict);
    type.tp_dealloc = hdbscan_dealloc;
    type.tp_traverse = hdbscan_traverse;
    type.tp_clear = hdbscan_clear;
    type.tp_repr = hdbscan_repr;
    type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
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
    if (arguments.n_jobs) text += ", n_jobs=" + *arguments.n_jobs;
    if (arguments.max_cluster_size) {
        text += ", max_cluster_size=" + std::to_string(*arguments.max_cluster_size);
    }
    if (arguments.cluster_selection_epsilon_max) {
        text += ", cluster_selection_epsilon_max=" +
                float_text(*arguments.cluster_selection_epsilon_max);
    }
    text += ")";
    return text;
}

}  // namespace corvane::python
