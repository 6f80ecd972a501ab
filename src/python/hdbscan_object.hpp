#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "common/stage_clock.hpp"
#include "model/fitted_model.hpp"
#include "python/parameters.hpp"

namespace corvane::python {

struct HdbscanState {
    ParameterObjects objects;  // as given; `parameters` is what they mean
    Parameters parameters;
    std::optional<std::size_t> n_features_in;
    // Absent until the first successful fit. Shared so that a call that reads it keeps it
    // alive even if a signal handler run during that call installs another.
    std::shared_ptr<FittedModel> model;
    StageTimes stage_times;  // of the fit that made `model`
};

// An HDBSCAN object: its state, and the instance dictionary that scikit-learn's
// meta-estimators write their own attributes into. The parameters and the fitted
// attributes are read-only descriptors of the type, so the dictionary cannot shadow them.
struct HdbscanObject {
    PyObject_HEAD HdbscanState* state;  // owned; created by tp_new, deleted by tp_dealloc
    PyObject* dict;                     // owned, may be null
};

extern PyTypeObject hdbscan_type;

inline HdbscanState& state_of(PyObject* self) {
    return *reinterpret_cast<HdbscanObject*>(self)->state;
}

// The text form of an object: "HDBSCAN(min_cluster_size=5, ...)".
std::string constructor_text(const ConstructorArguments& arguments);

}  // namespace corvane::python
