// approximate_predict: convert X, require a fitted model, predict, and return the labels
// and probabilities as two new arrays that own the result vectors.
#define PY_SSIZE_T_CLEAN
#include "python/predict_method.hpp"

#include "prediction/prediction.hpp"
#include "python/array_exchange.hpp"
#include "python/fitted_call.hpp"
#include "python/owned_ref.hpp"

namespace corvane::python {

const char approximate_predict_doc[] =
    "approximate_predict($self, X)\n--\n\n"
    "Predict cluster labels for new points.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n    New data points.\n\n"
    "Returns\n-------\n"
    "labels : numpy.ndarray of shape (n_samples,)\n    Predicted cluster labels.\n"
    "probabilities : numpy.ndarray of shape (n_samples,)\n    Prediction confidence.";

namespace {

PyObject* prediction_tuple(Prediction&& prediction) {
    OwnedRef labels = OwnedRef::steal(move_to_array(std::move(prediction.labels)));
    if (!labels) return nullptr;
    OwnedRef probabilities = OwnedRef::steal(move_to_array(std::move(prediction.probabilities)));
    if (!probabilities) return nullptr;
    PyObject* tuple = PyTuple_New(2);  // owned
    if (tuple == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple, 0, labels.release());  // steals
    PyTuple_SET_ITEM(tuple, 1, probabilities.release());
    return tuple;
}

}  // namespace

PyObject* hdbscan_approximate_predict(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"X", nullptr};
    PyObject* x = nullptr;  // borrowed
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:approximate_predict",
                                     const_cast<char**>(keywords), &x)) {
        return nullptr;
    }
    return with_fitted_points(
        self, x, [](FittedModel& model, DataMatrix points, const ExecutionContext& context) {
            Expected<Prediction> prediction = approximate_predict(model, points, context);
            if (!prediction) return raise_hdbscan_error(prediction.error());
            return prediction_tuple(std::move(*prediction));
        });
}

}  // namespace corvane::python
