// fit and fit_predict: convert X, record its width, run the fit driver and
// install the new model only when the whole fit succeeded.
#define PY_SSIZE_T_CLEAN
#include "python/fit_methods.hpp"

#include <memory>

#include "hdbscan/fit_model.hpp"
#include "python/array_exchange.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

const char fit_doc[] =
    "fit($self, X)\n--\n\n"
    "Fit the model to data.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n    Training data.\n\n"
    "Returns\n-------\n"
    "self : HDBSCAN\n"
    "    Returns self for method chaining (the scikit-learn estimator convention)";

const char fit_predict_doc[] =
    "fit_predict($self, X)\n--\n\n"
    "Fit the model to data and return cluster labels.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n    Training data.\n\n"
    "Returns\n-------\n"
    "labels : numpy.ndarray of shape (n_samples,)\n    Cluster labels. -1 indicates noise.";

namespace {

// Runs a fit; on success the object holds the new model. Returns false with a
// Python exception set otherwise, the previous model untouched.
bool run_fit(PyObject* self, PyObject* args, PyObject* kwargs, const char* format) {
    static const char* keywords[] = {"X", nullptr};
    PyObject* x = nullptr;  // borrowed
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &x)) {
        return false;
    }
    HdbscanState& state = *reinterpret_cast<HdbscanObject*>(self)->state;
    return guarded(false, [&] {
        std::optional<DataMatrix> matrix = to_data_matrix(x);
        if (!matrix) return false;
        state.n_features_in = matrix->cols;
        StageTimes times;
        Expected<FittedModel> fitted = fit_model(state.params, std::move(*matrix), &times);
        if (!fitted) {
            raise_hdbscan_error(fitted.error());
            return false;
        }
        state.model = std::make_unique<FittedModel>(std::move(*fitted));
        state.stage_times = times;
        return true;
    });
}

}  // namespace

PyObject* hdbscan_fit(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (!run_fit(self, args, kwargs, "O:fit")) return nullptr;
    Py_INCREF(self);
    return self;
}

PyObject* hdbscan_fit_predict(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (!run_fit(self, args, kwargs, "O:fit_predict")) return nullptr;
    const FittedModel& model = *reinterpret_cast<HdbscanObject*>(self)->state->model;
    return guarded<PyObject*>(nullptr, [&] { return copy_to_array(model.labels); });
}

}  // namespace corvane::python
