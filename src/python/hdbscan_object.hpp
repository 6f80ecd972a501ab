#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "common/params.hpp"
#include "common/stage_clock.hpp"
#include "model/fitted_model.hpp"

namespace corvane::python {

// The constructor arguments as the caller wrote them; only __repr__ reads them.
struct ConstructorArguments {
    std::size_t min_cluster_size = 5;
    std::optional<std::size_t> min_samples;
    std::string metric = "euclidean";
    double alpha = 1.0;
    double cluster_selection_epsilon = 0.0;
    std::string cluster_selection_method = "eom";
    bool allow_single_cluster = false;
};

struct HdbscanState {
    HdbscanParams params;
    ConstructorArguments arguments;
    std::optional<std::size_t> n_features_in;
    std::unique_ptr<FittedModel> model;  // absent until the first successful fit
    StageTimes stage_times;              // of the fit that made `model`
};

struct HdbscanObject {
    PyObject_HEAD HdbscanState* state;  // owned; created by tp_new, deleted by tp_dealloc
};

extern PyTypeObject hdbscan_type;

// tp_new of HDBSCAN: binds, converts and validates the eight parameters.
PyObject* hdbscan_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// The text form of an object: "HDBSCAN(min_cluster_size=5, ...)".
std::string constructor_text(const ConstructorArguments& arguments);

}  // namespace corvane::python
