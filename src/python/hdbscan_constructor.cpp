// Binding, conversion and validation of the HDBSCAN constructor arguments.
#define PY_SSIZE_T_CLEAN
#include <string_view>

#include "hdbscan/params_validation.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {
namespace {

// Replaces a pending TypeError by one whose message starts "argument '<name>': ".
void prefix_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyObject* reason = value != nullptr ? PyObject_Str(value) : nullptr;
    if (reason != nullptr) {
        PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, reason);
        Py_DECREF(reason);
    } else {
        PyErr_Format(PyExc_TypeError, "argument '%s': invalid value", name);
    }
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
}

void raise_wrong_type(const char* name, const char* expected, PyObject* value) {
    PyErr_Format(PyExc_TypeError, "argument '%s': must be %s, not %.200s", name, expected,
                 Py_TYPE(value)->tp_name);
}

// Integer-like (int or __index__), not negative, within the unsigned 64-bit range.
bool convert_count(PyObject* value, const char* name, std::size_t& out) {
    PyObject* index = PyNumber_Index(value);  // owned
    if (index == nullptr) {
        prefix_type_error(name);
        return false;
    }
    const unsigned long long converted = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = static_cast<std::size_t>(converted);
    return true;
}

bool convert_float(PyObject* value, const char* name, double& out) {
    const double converted = PyFloat_AsDouble(value);
    if (converted == -1.0 && PyErr_Occurred()) {
        prefix_type_error(name);
        return false;
    }
    out = converted;
    return true;
}

bool convert_text(PyObject* value, const char* name, std::string& out) {
    if (!PyUnicode_Check(value)) {
        raise_wrong_type(name, "str", value);
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 == nullptr) {
        prefix_type_error(name);
        return false;
    }
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

bool text_attribute_is(PyObject* object, const char* attribute, std::string_view wanted) {
    PyObject* text = PyObject_GetAttrString(object, attribute);  // owned
    if (text == nullptr) {
        PyErr_Clear();
        return false;
    }
    bool equal = false;
    if (PyUnicode_Check(text)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
        if (utf8 == nullptr) {
            PyErr_Clear();
        } else {
            equal = std::string_view(utf8, static_cast<std::size_t>(size)) == wanted;
        }
    }
    Py_DECREF(text);
    return equal;
}

// NumPy's boolean scalar type is "bool_" in NumPy 1 and "bool" in NumPy 2.
bool is_numpy_bool(PyObject* value) {
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    return text_attribute_is(type, "__module__", "numpy") &&
           (text_attribute_is(type, "__name__", "bool_") ||
            text_attribute_is(type, "__name__", "bool"));
}

bool convert_flag(PyObject* value, const char* name, bool& out) {
    if (PyBool_Check(value)) {
        out = value == Py_True;
        return true;
    }
    if (is_numpy_bool(value)) {
        const int truth = PyObject_IsTrue(value);
        if (truth < 0) return false;
        out = truth != 0;
        return true;
    }
    raise_wrong_type(name, "bool", value);
    return false;
}

bool match_metric(std::string_view text, std::optional<double> p, Metric& out) {
    if (text == "euclidean") {
        out = Metric::euclidean();
    } else if (text == "manhattan" || text == "cityblock" || text == "l1") {
        out = Metric::manhattan();
    } else if (text == "cosine") {
        out = Metric::cosine();
    } else if (text == "minkowski") {
        out = Metric::minkowski(p.value_or(2.0));
    } else if (text == "precomputed") {
        out = Metric::precomputed();
    } else {
        return false;
    }
    return true;
}

bool match_method(std::string_view text, ClusterSelectionMethod& out) {
    if (text == "eom") {
        out = ClusterSelectionMethod::Eom;
    } else if (text == "leaf") {
        out = ClusterSelectionMethod::Leaf;
    } else {
        return false;
    }
    return true;
}

// ValueError whose message embeds the caller's text verbatim (NUL characters included).
void raise_unknown_text(std::string_view prefix, const std::string& text, std::string_view suffix) {
    std::string message(prefix);
    message += text;
    message += suffix;
    PyObject* value = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                           nullptr);  // owned
    if (value == nullptr) return;
    PyErr_SetObject(PyExc_ValueError, value);
    Py_DECREF(value);
}

// Converts and validates; on failure returns false with a Python error set.
bool build_state(PyObject* args, PyObject* kwargs, HdbscanState& state) {
    static const char* keywords[] = {"min_cluster_size",
                                     "min_samples",
                                     "metric",
                                     "p",
                                     "alpha",
                                     "cluster_selection_epsilon",
                                     "cluster_selection_method",
                                     "allow_single_cluster",
                                     nullptr};
    // Borrowed references, null when not given.
    PyObject* min_cluster_size = nullptr;
    PyObject* min_samples = nullptr;
    PyObject* metric = nullptr;
    PyObject* p = nullptr;
    PyObject* alpha = nullptr;
    PyObject* epsilon = nullptr;
    PyObject* method = nullptr;
    PyObject* allow_single_cluster = nullptr;
    if (!PyArg_ParseTupleAndKeywords(
            args, kwargs, "|OOOOOOOO:HDBSCAN", const_cast<char**>(keywords), &min_cluster_size,
            &min_samples, &metric, &p, &alpha, &epsilon, &method, &allow_single_cluster)) {
        return false;
    }

    ConstructorArguments& given = state.arguments;
    std::optional<double> exponent;
    if (min_cluster_size != nullptr &&
        !convert_count(min_cluster_size, "min_cluster_size", given.min_cluster_size)) {
        return false;
    }
    if (min_samples != nullptr && min_samples != Py_None) {
        std::size_t value = 0;
        if (!convert_count(min_samples, "min_samples", value)) return false;
        given.min_samples = value;
    }
    if (metric != nullptr && !convert_text(metric, "metric", given.metric)) return false;
    if (p != nullptr && p != Py_None) {
        double value = 0.0;
        if (!convert_float(p, "p", value)) return false;
        exponent = value;
    }
    if (alpha != nullptr && !convert_float(alpha, "alpha", given.alpha)) return false;
    if (epsilon != nullptr &&
        !convert_float(epsilon, "cluster_selection_epsilon", given.cluster_selection_epsilon)) {
        return false;
    }
    if (method != nullptr &&
        !convert_text(method, "cluster_selection_method", given.cluster_selection_method)) {
        return false;
    }
    if (allow_single_cluster != nullptr &&
        !convert_flag(allow_single_cluster, "allow_single_cluster", given.allow_single_cluster)) {
        return false;
    }

    HdbscanParams& params = state.params;
    if (!match_metric(given.metric, exponent, params.metric)) {
        raise_unknown_text("Unknown metric: '", given.metric,
                           "'. Expected one of: euclidean, manhattan, cosine, minkowski, "
                           "precomputed");
        return false;
    }
    if (!match_method(given.cluster_selection_method, params.cluster_selection_method)) {
        raise_unknown_text("Unknown cluster_selection_method: '", given.cluster_selection_method,
                           "'. Expected 'eom' or 'leaf'");
        return false;
    }
    params.min_cluster_size = given.min_cluster_size;
    params.min_samples = given.min_samples;
    params.alpha = given.alpha;
    params.cluster_selection_epsilon = given.cluster_selection_epsilon;
    params.allow_single_cluster = given.allow_single_cluster;
    if (auto error = validate_params(params)) {
        raise_hdbscan_error(*error);
        return false;
    }
    return true;
}

}  // namespace

PyObject* hdbscan_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        auto state = std::make_unique<HdbscanState>();
        if (!build_state(args, kwargs, *state)) return nullptr;
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        reinterpret_cast<HdbscanObject*>(self)->state = state.release();
        return self;
    });
}

}  // namespace corvane::python
