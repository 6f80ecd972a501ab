// reselect: new selection parameters for a fitted model, applied to the hierarchy it
// keeps, with the constructor's conversions and checks; all or nothing.
#define PY_SSIZE_T_CLEAN
#include "python/reselect_method.hpp"

#include <memory>
#include <optional>

#include "hdbscan/input_validation.hpp"
#include "python/call_context.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

const char reselect_doc[] =
    "reselect($self, /, **params)\n--\n\n"
    "Select the clusters again from the fitted hierarchy, without a new fit.\n\n"
    "Changes any of min_cluster_size, cluster_selection_method,\n"
    "cluster_selection_epsilon, cluster_selection_epsilon_max, max_cluster_size and\n"
    "allow_single_cluster, with the constructor's checks and messages, and recomputes\n"
    "everything that depends on them from the hierarchy the fit kept: the condensed tree\n"
    "(for a new min_cluster_size), the selected clusters, labels_, probabilities_,\n"
    "cluster_persistence_, outlier_scores_ and what approximate_predict reads;\n"
    "condensed_tree_, exemplars_, cluster_centroids() and cluster_medoids() then read\n"
    "the new selection. The model equals a fit of the same data with the new\n"
    "parameters.\n\n"
    "The hierarchy depends on min_samples. Where min_samples is None (meaning\n"
    "min_cluster_size), reselect fixes it at the value the fit used, so that the\n"
    "parameters keep describing the model; min_samples, metric, p and alpha must be\n"
    "those of the fit.\n\n"
    "Any other keyword raises TypeError; a call that fails changes nothing.\n\n"
    "Returns\n-------\n"
    "self : HDBSCAN";

namespace {

bool reselectable(std::size_t index) {
    switch (index) {
        case MIN_CLUSTER_SIZE:
        case CLUSTER_SELECTION_METHOD:
        case CLUSTER_SELECTION_EPSILON:
        case CLUSTER_SELECTION_EPSILON_MAX:
        case MAX_CLUSTER_SIZE:
        case ALLOW_SINGLE_CLUSTER:
            return true;
        default:
            return false;
    }
}

// Replaces the objects of the keywords; false with TypeError for any other keyword.
bool take_keywords(PyObject* kwargs, ParameterObjects& objects) {
    if (kwargs == nullptr) return true;
    PyObject* key = nullptr;    // borrowed
    PyObject* value = nullptr;  // borrowed
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        const std::optional<std::size_t> index = parameter_index(key);
        if (!index || !reselectable(*index)) {
            PyErr_Format(PyExc_TypeError,
                         "reselect() got an unexpected keyword argument %R; it changes only "
                         "min_cluster_size, cluster_selection_method, cluster_selection_epsilon, "
                         "cluster_selection_epsilon_max, max_cluster_size and "
                         "allow_single_cluster",
                         key);
            return false;
        }
        objects[*index] = OwnedRef::borrow(value);
    }
    return true;
}

}  // namespace

PyObject* hdbscan_reselect(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_SetString(PyExc_TypeError, "reselect() takes only keyword arguments");
        return nullptr;
    }
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        HdbscanState& state = state_of(self);
        ParameterObjects objects = state.objects;
        if (!take_keywords(kwargs, objects)) return nullptr;
        // Held for the call, in case a signal handler run meanwhile installs another model.
        const std::shared_ptr<FittedModel> model = state.model;
        if (model == nullptr) return raise_hdbscan_error(HdbscanError::not_fitted());
        if (objects[MIN_SAMPLES].get() == Py_None) {
            objects[MIN_SAMPLES] = OwnedRef::steal(PyLong_FromSize_t(model->min_samples));
            if (!objects[MIN_SAMPLES]) return nullptr;
        }
        std::optional<Parameters> parameters = convert_parameters(objects);
        if (!parameters) return nullptr;
        if (auto error = validate_reselection(parameters->params, *model)) {
            return raise_hdbscan_error(*error);
        }

        const ExecutionContext context = call_context(parameters->n_jobs);
        HierarchySelection selected = reselect_model(*model, parameters->params, context);
        // Changed in place only where no call in progress holds the model (one that a
        // signal handler interrupted to call this, say); otherwise on a copy.
        const long holders = state.model == model ? 2 : 1;
        const std::shared_ptr<FittedModel> target =
            model.use_count() == holders ? model : std::make_shared<FittedModel>(*model);
        install_selection(*target, selected);
        state.model = target;
        state.objects = std::move(objects);
        state.parameters = std::move(*parameters);
        Py_INCREF(self);
        return self;
    });
}

}  // namespace corvane::python
