// The scikit-learn estimator protocol. Parameters change only through set_params, with
// the constructor's conversions, checks and messages; scikit-learn itself is imported
// only when it asks for the tags.
#define PY_SSIZE_T_CLEAN
#include "python/estimator_methods.hpp"

#include <optional>
#include <string>

#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

const char get_params_doc[] =
    "get_params($self, deep=True)\n--\n\n"
    "Get the parameters of this estimator.\n\n"
    "Parameters\n----------\n"
    "deep : bool, default=True\n    Ignored: HDBSCAN has no sub-estimators.\n\n"
    "Returns\n-------\n"
    "params : dict\n    Parameter names mapped to the objects the estimator was given.";

const char set_params_doc[] =
    "set_params($self, /, **params)\n--\n\n"
    "Set the parameters of this estimator.\n\n"
    "Values are checked as the constructor checks them; if any is refused, no parameter\n"
    "changes. Fitted results stay until the next fit.\n\n"
    "Returns\n-------\n"
    "self : HDBSCAN";

const char sklearn_tags_doc[] =
    "__sklearn_tags__($self, /)\n--\n\n"
    "The scikit-learn tags of this estimator (a clusterer; pairwise input under\n"
    "metric='precomputed').";

const char sklearn_is_fitted_doc[] =
    "__sklearn_is_fitted__($self, /)\n--\n\n"
    "Whether a fit has succeeded.";

namespace {

// The list of valid names, sorted, as scikit-learn reports them.
PyObject* sorted_parameter_names() {
    OwnedRef names = OwnedRef::steal(PyList_New(0));
    if (!names) return nullptr;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        OwnedRef name = OwnedRef::steal(PyUnicode_FromString(parameter_names[i]));
        if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
    }
    if (PyList_Sort(names.get()) < 0) return nullptr;
    return names.release();
}

void raise_invalid_parameter(PyObject* self, PyObject* key) {
    OwnedRef valid = OwnedRef::steal(sorted_parameter_names());
    if (!valid) return;
    PyErr_Format(PyExc_ValueError,
                 "Invalid parameter %R for estimator %R. Valid parameters are: %R.", key, self,
                 valid.get());
}

PyObject* call_with_keywords(PyObject* callable, PyObject* keywords) {
    OwnedRef no_arguments = OwnedRef::steal(PyTuple_New(0));
    if (!no_arguments) return nullptr;
    return PyObject_Call(callable, no_arguments.get(), keywords);
}

}  // namespace

PyObject* hdbscan_get_params(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"deep", nullptr};
    PyObject* deep = nullptr;  // borrowed, ignored
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:get_params", const_cast<char**>(keywords),
                                     &deep)) {
        return nullptr;
    }
    OwnedRef params = OwnedRef::steal(PyDict_New());
    if (!params) return nullptr;
    const ParameterObjects& objects = state_of(self).objects;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        if (PyDict_SetItemString(params.get(), parameter_names[i], objects[i].get()) < 0) {
            return nullptr;
        }
    }
    return params.release();
}

PyObject* hdbscan_set_params(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_SetString(PyExc_TypeError, "set_params() takes only keyword arguments");
        return nullptr;
    }
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        HdbscanState& state = state_of(self);
        ParameterObjects objects = state.objects;
        if (kwargs != nullptr) {
            PyObject* key = nullptr;    // borrowed
            PyObject* value = nullptr;  // borrowed
            Py_ssize_t position = 0;
            while (PyDict_Next(kwargs, &position, &key, &value)) {
                const std::optional<std::size_t> index = parameter_index(key);
                if (!index) {
                    raise_invalid_parameter(self, key);
                    return nullptr;
                }
                objects[*index] = OwnedRef::borrow(value);
            }
        }
        std::optional<Parameters> parameters = convert_parameters(objects);
        if (!parameters) return nullptr;
        state.objects = std::move(objects);
        state.parameters = std::move(*parameters);
        Py_INCREF(self);
        return self;
    });
}

PyObject* hdbscan_sklearn_tags(PyObject* self, PyObject*) {
    OwnedRef utils = OwnedRef::steal(PyImport_ImportModule("sklearn.utils"));
    if (!utils) return nullptr;
    OwnedRef tags_type = OwnedRef::steal(PyObject_GetAttrString(utils.get(), "Tags"));
    OwnedRef target_type = OwnedRef::steal(PyObject_GetAttrString(utils.get(), "TargetTags"));
    OwnedRef input_type = OwnedRef::steal(PyObject_GetAttrString(utils.get(), "InputTags"));
    if (!tags_type || !target_type || !input_type) return nullptr;

    const bool pairwise = state_of(self).parameters.params.metric.kind == MetricKind::Precomputed;
    OwnedRef input_keywords =
        OwnedRef::steal(Py_BuildValue("{s:O}", "pairwise", pairwise ? Py_True : Py_False));
    OwnedRef target_keywords = OwnedRef::steal(Py_BuildValue("{s:O}", "required", Py_False));
    if (!input_keywords || !target_keywords) return nullptr;
    OwnedRef input = OwnedRef::steal(call_with_keywords(input_type.get(), input_keywords.get()));
    OwnedRef target = OwnedRef::steal(call_with_keywords(target_type.get(), target_keywords.get()));
    if (!input || !target) return nullptr;
    OwnedRef keywords =
        OwnedRef::steal(Py_BuildValue("{s:s,s:O,s:O}", "estimator_type", "clusterer", "target_tags",
                                      target.get(), "input_tags", input.get()));
    if (!keywords) return nullptr;
    return call_with_keywords(tags_type.get(), keywords.get());
}

PyObject* hdbscan_sklearn_is_fitted(PyObject* self, PyObject*) {
    return PyBool_FromLong(state_of(self).model != nullptr ? 1 : 0);
}

}  // namespace corvane::python
