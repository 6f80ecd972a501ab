// fit and fit_predict: convert X, record its width, run the fit driver and
// install the new model only when the whole fit succeeded.
#define PY_SSIZE_T_CLEAN
#include "python/fit_methods.hpp"

#include <memory>
#include <optional>

#include "hdbscan/fit_model.hpp"
#include "python/array_exchange.hpp"
#include "python/call_context.hpp"
#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {

const char fit_doc[] =
    "fit($self, X, y=None)\n--\n\n"
    "Fit the model to data.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n    Training data.\n"
    "y : ignored\n    Not used; accepted for scikit-learn pipelines.\n\n"
    "Returns\n-------\n"
    "self : HDBSCAN\n"
    "    Returns self for method chaining (the scikit-learn estimator convention)";

const char fit_predict_doc[] =
    "fit_predict($self, X, y=None)\n--\n\n"
    "Fit the model to data and return cluster labels.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n    Training data.\n"
    "y : ignored\n    Not used; accepted for scikit-learn pipelines.\n\n"
    "Returns\n-------\n"
    "labels : numpy.ndarray of shape (n_samples,)\n    Cluster labels. -1 indicates noise.";

namespace {

// Runs a fit and returns the new model, which the object then holds. Returns null with a
// Python exception set otherwise, the previous model untouched; an interrupted fit also
// leaves n_features_in_ as it was.
std::shared_ptr<const FittedModel> run_fit(PyObject* self, PyObject* args, PyObject* kwargs,
                                           const char* format) {
    static const char* keywords[] = {"X", "y", nullptr};
    PyObject* x = nullptr;  // borrowed
    PyObject* y = nullptr;  // borrowed, ignored
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &x, &y)) {
        return nullptr;
    }
    HdbscanState& state = state_of(self);
    return guarded<std::shared_ptr<const FittedModel>>(
        nullptr, [&]() -> std::shared_ptr<const FittedModel> {
            std::optional<DataMatrix> matrix = to_data_matrix(x);
            if (!matrix) return nullptr;
            // Copies: a signal handler that runs during the fit may change the parameters.
            const HdbscanParams params = state.parameters.params;
            const ExecutionContext context = call_context(state.parameters.n_jobs);
            const std::optional<std::size_t> previous_width = state.n_features_in;
            state.n_features_in = matrix->cols;
            StageTimes times;
#ifdef CORVANE_STAGE_TIMINGS
            times.track_memory = true;
#endif
            std::optional<Expected<FittedModel>> fitted;
            try {
                fitted.emplace(fit_model(params, std::move(*matrix), context, &times));
            } catch (const Interrupted&) {
                state.n_features_in = previous_width;
                throw;
            }
            if (!*fitted) {
                raise_hdbscan_error(fitted->error());
                return nullptr;
            }
            auto model = std::make_shared<FittedModel>(std::move(**fitted));
            state.model = model;
            state.stage_times = times;
            return model;
        });
}

}  // namespace

PyObject* hdbscan_fit(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (!run_fit(self, args, kwargs, "O|O:fit")) return nullptr;
    Py_INCREF(self);
    return self;
}

PyObject* hdbscan_fit_predict(PyObject* self, PyObject* args, PyObject* kwargs) {
    const std::shared_ptr<const FittedModel> model = run_fit(self, args, kwargs, "O|O:fit_predict");
    if (!model) return nullptr;
    return guarded<PyObject*>(nullptr, [&] { return copy_to_array(model->labels); });
}

}  // namespace corvane::python
