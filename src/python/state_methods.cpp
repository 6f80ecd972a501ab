// The saved state of an HDBSCAN object, a dict of plain values and NumPy arrays:
//   format         STATE_FORMAT, the layout of the rest
//   params         {parameter name: the object it was given as}
//   n_features_in  int or None
//   attributes     the instance dictionary (what meta-estimators set)
//   model          None, or the fitted model as a dict of the parts a fit computes
//                  (saved_model.hpp), in the model's units; the rest of the model is
//                  derived again on loading.
// The training data and core distances are read-only views of the model's memory, so
// saving copies nothing beyond what the pickler writes.
#define PY_SSIZE_T_CLEAN
#include "python/state_methods.hpp"

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "model/saved_model.hpp"
#include "python/array_exchange.hpp"
#include "python/call_context.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

const char reduce_doc[] =
    "__reduce__($self, /)\n--\n\n"
    "Support for pickle, copy and joblib: HDBSCAN() and the state of __getstate__.";

const char getstate_doc[] =
    "__getstate__($self, /)\n--\n\n"
    "The state of this object as a dict of plain values and NumPy arrays: the format\n"
    "version, the parameters, n_features_in_, the instance attributes and the fitted\n"
    "model (or None).";

const char deepcopy_doc[] =
    "__deepcopy__($self, memo, /)\n--\n\n"
    "A deep copy: the parameters and attributes copied with copy.deepcopy, the fitted\n"
    "model copied once.";

const char setstate_doc[] =
    "__setstate__($self, state, /)\n--\n\n"
    "Take over a state made by __getstate__. Every field is checked first; a state that\n"
    "is refused raises ValueError naming the field and leaves the object unchanged.";

namespace {

constexpr long STATE_FORMAT = 1;

constexpr std::array<std::string_view, 5> state_fields = {"format", "params", "n_features_in",
                                                          "attributes", "model"};
constexpr std::array<std::string_view, 16> model_fields = {"metric",
                                                           "p",
                                                           "magnitude_shift",
                                                           "min_samples",
                                                           "alpha",
                                                           "training_data",
                                                           "core_distances",
                                                           "spanning_tree_a",
                                                           "spanning_tree_b",
                                                           "spanning_tree_weight",
                                                           "min_cluster_size",
                                                           "cluster_selection_method",
                                                           "allow_single_cluster",
                                                           "cluster_selection_epsilon",
                                                           "max_cluster_size",
                                                           "cluster_selection_epsilon_max"};

constexpr std::array<std::pair<MetricKind, const char*>, 5> metric_names = {{
    {MetricKind::Euclidean, "euclidean"},
    {MetricKind::Manhattan, "manhattan"},
    {MetricKind::Cosine, "cosine"},
    {MetricKind::Minkowski, "minkowski"},
    {MetricKind::Precomputed, "precomputed"},
}};

// Raises ValueError for a refused field; returns false.
bool refuse(std::string_view field, std::string_view reason) {
    const std::string message =
        "Invalid HDBSCAN state: field '" + std::string(field) + "': " + std::string(reason);
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

// Replaces a pending TypeError, ValueError or OverflowError (a parameter refused by its
// conversion) by the refusal of `field` with its message; other errors stay.
bool refuse_pending(std::string_view field) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_ValueError) &&
        !PyErr_ExceptionMatches(PyExc_OverflowError)) {
        return false;
    }
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const OwnedRef owned_type = OwnedRef::steal(type);
    const OwnedRef owned_value = OwnedRef::steal(value);
    const OwnedRef owned_traceback = OwnedRef::steal(traceback);
    const OwnedRef text = OwnedRef::steal(value != nullptr ? PyObject_Str(value) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) return false;
    return refuse(field, utf8);
}

// ---- saving

PyObject* new_none() {
    Py_INCREF(Py_None);
    return Py_None;
}

// Stores a new reference (null: an error is set) under `key`.
bool set_item(PyObject* dict, const char* key, PyObject* value) {
    const OwnedRef owned = OwnedRef::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

const char* metric_name(MetricKind kind) {
    for (const auto& [named, name] : metric_names) {
        if (named == kind) return name;
    }
    return "euclidean";
}

PyObject* spanning_tree_array(const SpanningTree& tree, std::int64_t (*part)(const MstEdge&)) {
    std::vector<std::int64_t> values(tree.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = part(tree.edge(i));
    return copy_to_array(std::span<const std::int64_t>(values));
}

PyObject* model_state(const std::shared_ptr<const FittedModel>& model) {
    OwnedRef dict = OwnedRef::steal(PyDict_New());
    if (!dict) return nullptr;
    const Hierarchy& hierarchy = model->hierarchy;
    const SpanningTree& tree = hierarchy.spanning_tree;
    std::vector<double> weights(tree.size());
    for (std::size_t i = 0; i < weights.size(); ++i)
        weights[i] = tree.edge(i).weight;
    const SelectionParams& selection = hierarchy.selected_with;
    const bool stored =
        set_item(dict.get(), "metric", PyUnicode_FromString(metric_name(model->metric.kind))) &&
        set_item(dict.get(), "p", PyFloat_FromDouble(model->metric.p)) &&
        set_item(dict.get(), "magnitude_shift", PyLong_FromLong(model->magnitude_shift)) &&
        set_item(dict.get(), "min_samples", PyLong_FromSize_t(model->min_samples)) &&
        set_item(dict.get(), "alpha", PyFloat_FromDouble(model->alpha)) &&
        set_item(dict.get(), "training_data",
                 view_as_matrix(model->training_data.values, model->n(), model)) &&
        set_item(dict.get(), "core_distances", view_as_array(model->core_distances, model)) &&
        set_item(dict.get(), "spanning_tree_a",
                 spanning_tree_array(
                     tree, [](const MstEdge& e) { return static_cast<std::int64_t>(e.a); })) &&
        set_item(dict.get(), "spanning_tree_b",
                 spanning_tree_array(
                     tree, [](const MstEdge& e) { return static_cast<std::int64_t>(e.b); })) &&
        set_item(dict.get(), "spanning_tree_weight",
                 copy_to_array(std::span<const double>(weights))) &&
        set_item(dict.get(), "min_cluster_size", PyLong_FromSize_t(hierarchy.min_cluster_size)) &&
        set_item(dict.get(), "cluster_selection_method",
                 PyUnicode_FromString(selection.method == ClusterSelectionMethod::Leaf ? "leaf"
                                                                                       : "eom")) &&
        set_item(dict.get(), "allow_single_cluster",
                 PyBool_FromLong(selection.allow_single_cluster)) &&
        set_item(dict.get(), "cluster_selection_epsilon", PyFloat_FromDouble(selection.epsilon)) &&
        set_item(dict.get(), "max_cluster_size",
                 selection.max_cluster_size == SelectionParams::NO_SIZE_CAP
                     ? new_none()
                     : PyLong_FromSize_t(selection.max_cluster_size)) &&
        set_item(dict.get(), "cluster_selection_epsilon_max",
                 PyFloat_FromDouble(selection.epsilon_max));
    return stored ? dict.release() : nullptr;
}

PyObject* state_of_object(PyObject* self) {
    const HdbscanState& state = state_of(self);
    OwnedRef dict = OwnedRef::steal(PyDict_New());
    OwnedRef params = OwnedRef::steal(PyDict_New());
    if (!dict || !params) return nullptr;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        if (PyDict_SetItemString(params.get(), parameter_names[i], state.objects[i].get()) < 0) {
            return nullptr;
        }
    }
    PyObject* instance_dict = reinterpret_cast<HdbscanObject*>(self)->dict;  // borrowed
    const bool stored =
        set_item(dict.get(), "format", PyLong_FromLong(STATE_FORMAT)) &&
        set_item(dict.get(), "params", params.release()) &&
        set_item(dict.get(), "n_features_in",
                 state.n_features_in ? PyLong_FromSize_t(*state.n_features_in) : new_none()) &&
        set_item(dict.get(), "attributes",
                 instance_dict != nullptr ? PyDict_Copy(instance_dict) : PyDict_New()) &&
        set_item(dict.get(), "model", state.model ? model_state(state.model) : new_none());
    return stored ? dict.release() : nullptr;
}

// ---- loading

// Everything a state sets, converted and checked before any of it is installed.
struct LoadedState {
    ParameterObjects objects;
    Parameters parameters;
    std::optional<std::size_t> n_features_in;
    OwnedRef attributes;
    std::shared_ptr<FittedModel> model;
};

// A dict whose keys are exactly `known`.
template <std::size_t N>
bool check_keys(PyObject* dict, std::string_view field,
                const std::array<std::string_view, N>& known) {
    if (!PyDict_Check(dict)) return refuse(field, "must be a dict");
    PyObject* key = nullptr;    // borrowed
    PyObject* value = nullptr;  // borrowed
    Py_ssize_t position = 0;
    while (PyDict_Next(dict, &position, &key, &value)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
        if (utf8 == nullptr) {
            PyErr_Clear();
            return refuse(field, "has a key that is not a field name");
        }
        const std::string_view name(utf8, static_cast<std::size_t>(size));
        bool found = false;
        for (const std::string_view candidate : known)
            found = found || name == candidate;
        if (!found) return refuse(field, "has an unknown field '" + std::string(name) + "'");
    }
    for (const std::string_view name : known) {
        if (PyDict_GetItemString(dict, std::string(name).c_str()) == nullptr) {
            return refuse(name, "is missing");
        }
    }
    return true;
}

PyObject* item(PyObject* dict, std::string_view field) {
    return PyDict_GetItemString(dict, std::string(field).c_str());  // borrowed, present
}

// An exact int (not a bool) in [low, high].
bool read_int(PyObject* value, std::string_view field, long long low, long long high,
              long long& out) {
    if (!PyLong_CheckExact(value)) return refuse(field, "must be an int");
    int overflow = 0;
    out = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (out == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || out < low || out > high) return refuse(field, "is out of range");
    return true;
}

bool read_float(PyObject* value, std::string_view field, double& out) {
    if (!PyFloat_CheckExact(value)) return refuse(field, "must be a float");
    out = PyFloat_AS_DOUBLE(value);
    return true;
}

bool read_text(PyObject* value, std::string_view field, std::string_view& out) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_Check(value) ? PyUnicode_AsUTF8AndSize(value, &size) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return refuse(field, "must be a str");
    }
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

bool read_metric(PyObject* model, Metric& out) {
    std::string_view name;
    if (!read_text(item(model, "metric"), "metric", name)) return false;
    bool known = false;
    for (const auto& [kind, candidate] : metric_names) {
        if (name == candidate) {
            out.kind = kind;
            known = true;
        }
    }
    if (!known) return refuse("metric", "is not a metric name");
    return read_float(item(model, "p"), "p", out.p);
}

bool read_selection(PyObject* model, SelectionParams& out) {
    std::string_view method;
    if (!read_text(item(model, "cluster_selection_method"), "cluster_selection_method", method)) {
        return false;
    }
    if (method != "eom" && method != "leaf") {
        return refuse("cluster_selection_method", "must be 'eom' or 'leaf'");
    }
    out.method = method == "leaf" ? ClusterSelectionMethod::Leaf : ClusterSelectionMethod::Eom;
    PyObject* flag = item(model, "allow_single_cluster");
    if (!PyBool_Check(flag)) return refuse("allow_single_cluster", "must be a bool");
    out.allow_single_cluster = flag == Py_True;
    PyObject* max_size = item(model, "max_cluster_size");
    if (max_size != Py_None) {
        long long value = 0;
        if (!read_int(max_size, "max_cluster_size", 0, LLONG_MAX, value)) return false;
        out.max_cluster_size = static_cast<std::size_t>(value);
    }
    return read_float(item(model, "cluster_selection_epsilon"), "cluster_selection_epsilon",
                      out.epsilon) &&
           read_float(item(model, "cluster_selection_epsilon_max"), "cluster_selection_epsilon_max",
                      out.epsilon_max);
}

// The arrays; a wrong type, dtype or number of dimensions is refused here, their values
// and shapes by restore_model.
bool read_arrays(PyObject* model, SavedModel& out) {
    std::optional<DataMatrix> training = read_float_matrix(item(model, "training_data"));
    if (!training) {
        return !PyErr_Occurred() && refuse("training_data", "must be a 2-D float64 array");
    }
    out.training_data = std::move(*training);
    std::optional<std::vector<double>> core = read_float_vector(item(model, "core_distances"));
    if (!core) return !PyErr_Occurred() && refuse("core_distances", "must be a 1-D float64 array");
    out.core_distances = std::move(*core);
    std::optional<std::vector<std::int64_t>> a = read_int_vector(item(model, "spanning_tree_a"));
    if (!a) return !PyErr_Occurred() && refuse("spanning_tree_a", "must be a 1-D int64 array");
    std::optional<std::vector<std::int64_t>> b = read_int_vector(item(model, "spanning_tree_b"));
    if (!b) return !PyErr_Occurred() && refuse("spanning_tree_b", "must be a 1-D int64 array");
    std::optional<std::vector<double>> weight =
        read_float_vector(item(model, "spanning_tree_weight"));
    if (!weight) {
        return !PyErr_Occurred() && refuse("spanning_tree_weight", "must be a 1-D float64 array");
    }
    if (b->size() != a->size() || weight->size() != a->size()) {
        return refuse("spanning_tree",
                      "spanning_tree_a, spanning_tree_b and spanning_tree_weight "
                      "differ in length");
    }
    out.spanning_tree.resize(a->size());
    for (std::size_t i = 0; i < a->size(); ++i) {
        // A negative endpoint becomes one out of range.
        out.spanning_tree[i] = {static_cast<std::size_t>((*a)[i]),
                                static_cast<std::size_t>((*b)[i]), (*weight)[i]};
    }
    return true;
}

bool read_model(PyObject* model, const Parameters& parameters, std::shared_ptr<FittedModel>& out) {
    if (!check_keys(model, "model", model_fields)) return false;
    SavedModel saved;
    long long shift = 0;
    long long min_samples = 0;
    long long min_cluster_size = 0;
    if (!read_metric(model, saved.metric) ||
        !read_int(item(model, "magnitude_shift"), "magnitude_shift", INT_MIN, INT_MAX, shift) ||
        !read_int(item(model, "min_samples"), "min_samples", 0, LLONG_MAX, min_samples) ||
        !read_float(item(model, "alpha"), "alpha", saved.alpha) ||
        !read_int(item(model, "min_cluster_size"), "min_cluster_size", 0, LLONG_MAX,
                  min_cluster_size) ||
        !read_selection(model, saved.selection) || !read_arrays(model, saved)) {
        return false;
    }
    saved.magnitude_shift = static_cast<int>(shift);
    saved.min_samples = static_cast<std::size_t>(min_samples);
    saved.min_cluster_size = static_cast<std::size_t>(min_cluster_size);
    std::expected<FittedModel, SavedModelError> restored =
        restore_model(std::move(saved), call_context(parameters.n_jobs));
    if (!restored) return refuse(restored.error().field, restored.error().reason);
    out = std::make_shared<FittedModel>(std::move(*restored));
    return true;
}

bool read_parameters(PyObject* params, LoadedState& out) {
    if (!PyDict_Check(params)) return refuse("params", "must be a dict");
    const OwnedRef no_arguments = OwnedRef::steal(PyTuple_New(0));
    if (!no_arguments) return false;
    if (!bind_parameters(no_arguments.get(), params, out.objects)) return refuse_pending("params");
    std::optional<Parameters> parameters = convert_parameters(out.objects);
    if (!parameters) return refuse_pending("params");
    out.parameters = std::move(*parameters);
    return true;
}

bool read_state(PyObject* state, LoadedState& out) {
    if (!PyDict_Check(state)) return refuse("state", "must be a dict");
    // The version first: a newer state may have other fields.
    PyObject* format = PyDict_GetItemString(state, "format");  // borrowed
    if (format == nullptr) return refuse("format", "is missing");
    long long version = 0;
    if (!read_int(format, "format", 1, LLONG_MAX, version)) return false;
    if (version > STATE_FORMAT) {
        PyErr_Format(PyExc_ValueError,
                     "HDBSCAN state has format version %lld, newer than the version %ld this "
                     "corvane reads; load it with a newer corvane",
                     version, STATE_FORMAT);
        return false;
    }
    if (!check_keys(state, "state", state_fields) || !read_parameters(item(state, "params"), out)) {
        return false;
    }
    PyObject* width = item(state, "n_features_in");
    if (width != Py_None) {
        long long value = 0;
        if (!read_int(width, "n_features_in", 0, LLONG_MAX, value)) return false;
        out.n_features_in = static_cast<std::size_t>(value);
    }
    PyObject* attributes = item(state, "attributes");
    if (!PyDict_CheckExact(attributes)) return refuse("attributes", "must be a dict");
    PyObject* key = nullptr;    // borrowed
    PyObject* value = nullptr;  // borrowed
    Py_ssize_t position = 0;
    while (PyDict_Next(attributes, &position, &key, &value)) {
        if (!PyUnicode_Check(key)) return refuse("attributes", "has a name that is not a str");
    }
    out.attributes = OwnedRef::steal(PyDict_Copy(attributes));
    if (!out.attributes) return false;
    PyObject* model = item(state, "model");
    if (model == Py_None) return true;
    if (!out.n_features_in) return refuse("n_features_in", "must be set for a fitted model");
    return read_model(model, out.parameters, out.model);
}

}  // namespace

PyObject* hdbscan_getstate(PyObject* self, PyObject*) {
    return guarded<PyObject*>(nullptr, [&] { return state_of_object(self); });
}

PyObject* hdbscan_reduce(PyObject* self, PyObject*) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        OwnedRef state = OwnedRef::steal(state_of_object(self));
        if (!state) return nullptr;
        return Py_BuildValue("(O()O)", reinterpret_cast<PyObject*>(Py_TYPE(self)), state.get());
    });
}

PyObject* hdbscan_deepcopy(PyObject* self, PyObject* memo) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        const OwnedRef state = OwnedRef::steal(state_of_object(self));
        if (!state) return nullptr;
        OwnedRef copy =
            OwnedRef::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(Py_TYPE(self))));
        if (!copy) return nullptr;
        // Registered before the parameters are copied, which may refer back to the object.
        if (PyDict_Check(memo)) {
            const OwnedRef key = OwnedRef::steal(PyLong_FromVoidPtr(self));
            if (!key || PyDict_SetItem(memo, key.get(), copy.get()) < 0) return nullptr;
        }
        const OwnedRef module = OwnedRef::steal(PyImport_ImportModule("copy"));
        if (!module) return nullptr;
        const OwnedRef deepcopy = OwnedRef::steal(PyObject_GetAttrString(module.get(), "deepcopy"));
        if (!deepcopy) return nullptr;
        for (const char* field : {"params", "attributes"}) {
            PyObject* value = PyDict_GetItemString(state.get(), field);  // borrowed
            const OwnedRef copied =
                OwnedRef::steal(PyObject_CallFunctionObjArgs(deepcopy.get(), value, memo, nullptr));
            if (!copied || PyDict_SetItemString(state.get(), field, copied.get()) < 0) {
                return nullptr;
            }
        }
        const OwnedRef loaded = OwnedRef::steal(hdbscan_setstate(copy.get(), state.get()));
        if (!loaded) return nullptr;
        return copy.release();
    });
}

PyObject* hdbscan_setstate(PyObject* self, PyObject* state) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        LoadedState loaded;
        if (!read_state(state, loaded)) return nullptr;
        // Nothing below can fail; what the object held is released after it is replaced,
        // since releasing it may run code that reads the object.
        HdbscanState& target = state_of(self);
        std::swap(target.objects, loaded.objects);
        std::swap(target.parameters, loaded.parameters);
        std::swap(target.n_features_in, loaded.n_features_in);
        std::swap(target.model, loaded.model);
        target.stage_times = {};
        PyObject*& dict = reinterpret_cast<HdbscanObject*>(self)->dict;
        OwnedRef previous_dict = OwnedRef::steal(std::exchange(dict, loaded.attributes.release()));
        Py_RETURN_NONE;
    });
}

}  // namespace corvane::python
