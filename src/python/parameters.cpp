// Binding, conversion and validation of the HDBSCAN constructor arguments, shared by
// the constructor and set_params.
#define PY_SSIZE_T_CLEAN
#include "python/parameters.hpp"

#include <algorithm>
#include <limits>
#include <string_view>

#include "hdbscan/params_validation.hpp"
#include "parallel/parallel.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

const char* const parameter_names[PARAMETER_COUNT + 1] = {"min_cluster_size",
                                                          "min_samples",
                                                          "metric",
                                                          "p",
                                                          "alpha",
                                                          "cluster_selection_epsilon",
                                                          "cluster_selection_method",
                                                          "allow_single_cluster",
                                                          "n_jobs",
                                                          "max_cluster_size",
                                                          "cluster_selection_epsilon_max",
                                                          nullptr};

namespace {

// New references to the defaults, in parameter order.
bool default_objects(ParameterObjects& objects) {
    objects[MIN_CLUSTER_SIZE] = OwnedRef::steal(PyLong_FromLong(5));
    objects[MIN_SAMPLES] = OwnedRef::borrow(Py_None);
    objects[METRIC] = OwnedRef::steal(PyUnicode_FromString("euclidean"));
    objects[P] = OwnedRef::borrow(Py_None);
    objects[ALPHA] = OwnedRef::steal(PyFloat_FromDouble(1.0));
    objects[CLUSTER_SELECTION_EPSILON] = OwnedRef::steal(PyFloat_FromDouble(0.0));
    objects[CLUSTER_SELECTION_METHOD] = OwnedRef::steal(PyUnicode_FromString("eom"));
    objects[ALLOW_SINGLE_CLUSTER] = OwnedRef::borrow(Py_False);
    objects[N_JOBS] = OwnedRef::borrow(Py_None);
    objects[MAX_CLUSTER_SIZE] = OwnedRef::borrow(Py_None);
    objects[CLUSTER_SELECTION_EPSILON_MAX] = OwnedRef::borrow(Py_None);
    return std::all_of(objects.begin(), objects.end(), [](const OwnedRef& o) { return bool(o); });
}

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

// None gives nothing; anything else goes through `convert`.
template <class T>
bool convert_optional(PyObject* value, const char* name,
                      bool (*convert)(PyObject*, const char*, T&), std::optional<T>& out) {
    if (value == Py_None) {
        out.reset();
        return true;
    }
    T converted{};
    if (!convert(value, name, converted)) return false;
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

// None or -1: every processor; a positive integer: at most that many. Booleans are not
// integers here.
bool convert_n_jobs(PyObject* value, std::optional<std::size_t>& out,
                    std::optional<std::string>& text) {
    if (value == Py_None) {
        out.reset();
        text.reset();
        return true;
    }
    if (!PyBool_Check(value) && !is_numpy_bool(value) && PyIndex_Check(value)) {
        const OwnedRef index = OwnedRef::steal(PyNumber_Index(value));
        if (!index) return false;
        int overflow = 0;
        const long long converted = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (converted == -1 && overflow == 0 && PyErr_Occurred()) return false;
        if (overflow > 0 || converted == -1 || converted >= 1) {
            const OwnedRef decimal = OwnedRef::steal(PyObject_Str(index.get()));
            const char* utf8 = decimal ? PyUnicode_AsUTF8(decimal.get()) : nullptr;
            if (utf8 == nullptr) return false;
            text = utf8;
            if (converted == -1 && overflow == 0) {
                out.reset();
            } else {
                out = overflow > 0 ? std::numeric_limits<std::size_t>::max()
                                   : static_cast<std::size_t>(converted);
            }
            return true;
        }
    }
    PyErr_Format(PyExc_ValueError, "n_jobs must be None, -1 or a positive integer, got %R", value);
    return false;
}

}  // namespace

bool bind_parameters(PyObject* args, PyObject* kwargs, ParameterObjects& objects) {
    // Borrowed references, null when not given.
    std::array<PyObject*, PARAMETER_COUNT> given{};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOOOOO$OOO:HDBSCAN",
                                     const_cast<char**>(parameter_names), &given[0], &given[1],
                                     &given[2], &given[3], &given[4], &given[5], &given[6],
                                     &given[7], &given[8], &given[9], &given[10])) {
        return false;
    }
    static_assert(PARAMETER_COUNT == 11 && POSITIONAL_PARAMETERS == 8);
    if (!default_objects(objects)) return false;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        if (given[i] != nullptr) objects[i] = OwnedRef::borrow(given[i]);
    }
    return true;
}

std::optional<std::size_t> parameter_index(PyObject* name) {
    if (!PyUnicode_Check(name)) return std::nullopt;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        if (PyUnicode_CompareWithASCIIString(name, parameter_names[i]) == 0) return i;
    }
    return std::nullopt;
}

std::optional<Parameters> convert_parameters(const ParameterObjects& objects) {
    Parameters converted;
    ConstructorArguments& given = converted.arguments;
    const auto object = [&](Parameter parameter) { return objects[parameter].get(); };
    std::optional<double> exponent;
    if (!convert_count(object(MIN_CLUSTER_SIZE), "min_cluster_size", given.min_cluster_size)) {
        return std::nullopt;
    }
    if (!convert_optional(object(MIN_SAMPLES), "min_samples", convert_count, given.min_samples) ||
        !convert_text(object(METRIC), "metric", given.metric) ||
        !convert_optional(object(P), "p", convert_float, exponent)) {
        return std::nullopt;
    }
    if (!convert_float(object(ALPHA), "alpha", given.alpha) ||
        !convert_float(object(CLUSTER_SELECTION_EPSILON), "cluster_selection_epsilon",
                       given.cluster_selection_epsilon) ||
        !convert_text(object(CLUSTER_SELECTION_METHOD), "cluster_selection_method",
                      given.cluster_selection_method) ||
        !convert_flag(object(ALLOW_SINGLE_CLUSTER), "allow_single_cluster",
                      given.allow_single_cluster) ||
        !convert_n_jobs(object(N_JOBS), converted.n_jobs, given.n_jobs) ||
        !convert_optional(object(MAX_CLUSTER_SIZE), "max_cluster_size", convert_count,
                          given.max_cluster_size) ||
        !convert_optional(object(CLUSTER_SELECTION_EPSILON_MAX), "cluster_selection_epsilon_max",
                          convert_float, given.cluster_selection_epsilon_max)) {
        return std::nullopt;
    }

    HdbscanParams& params = converted.params;
    if (!match_metric(given.metric, exponent, params.metric)) {
        raise_unknown_text("Unknown metric: '", given.metric,
                           "'. Expected one of: euclidean, manhattan, cosine, minkowski, "
                           "precomputed");
        return std::nullopt;
    }
    if (!match_method(given.cluster_selection_method, params.cluster_selection_method)) {
        raise_unknown_text("Unknown cluster_selection_method: '", given.cluster_selection_method,
                           "'. Expected 'eom' or 'leaf'");
        return std::nullopt;
    }
    params.min_cluster_size = given.min_cluster_size;
    params.min_samples = given.min_samples;
    params.alpha = given.alpha;
    params.cluster_selection_epsilon = given.cluster_selection_epsilon;
    params.allow_single_cluster = given.allow_single_cluster;
    params.max_cluster_size = given.max_cluster_size;
    params.cluster_selection_epsilon_max = given.cluster_selection_epsilon_max;
    if (auto error = validate_params(params)) {
        raise_hdbscan_error(*error);
        return std::nullopt;
    }
    return converted;
}

std::size_t thread_budget(const std::optional<std::size_t>& n_jobs) {
    const std::size_t available = available_threads();
    return n_jobs ? std::min(*n_jobs, available) : available;
}

}  // namespace corvane::python
