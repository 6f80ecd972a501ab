#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "common/params.hpp"
#include "python/owned_ref.hpp"

namespace corvane::python {

// The constructor's parameters in signature order; the ones after the first eight are
// keyword-only.
inline constexpr std::size_t PARAMETER_COUNT = 11;
inline constexpr std::size_t POSITIONAL_PARAMETERS = 8;
extern const char* const parameter_names[PARAMETER_COUNT + 1];  // null-terminated

// Their indices in parameter_names.
enum Parameter : std::size_t {
    MIN_CLUSTER_SIZE,
    MIN_SAMPLES,
    METRIC,
    P,
    ALPHA,
    CLUSTER_SELECTION_EPSILON,
    CLUSTER_SELECTION_METHOD,
    ALLOW_SINGLE_CLUSTER,
    N_JOBS,
    MAX_CLUSTER_SIZE,
    CLUSTER_SELECTION_EPSILON_MAX,
};

// The Python objects an object was built with, or that set_params gave it, one per
// parameter in signature order: the caller's very objects (so that get_params hands
// them back unchanged), the default's object where none was given.
using ParameterObjects = std::array<OwnedRef, PARAMETER_COUNT>;

// The constructor arguments as the caller wrote them; only __repr__ reads them.
struct ConstructorArguments {
    std::size_t min_cluster_size = 5;
    std::optional<std::size_t> min_samples;
    std::string metric = "euclidean";
    double alpha = 1.0;
    double cluster_selection_epsilon = 0.0;
    std::string cluster_selection_method = "eom";
    bool allow_single_cluster = false;
    std::optional<std::string> n_jobs;  // the integer in decimal; absent for None
    std::optional<std::size_t> max_cluster_size;
    std::optional<double> cluster_selection_epsilon_max;
};

// What the parameter objects mean, once converted and validated.
struct Parameters {
    HdbscanParams params;
    ConstructorArguments arguments;
    std::optional<std::size_t> n_jobs;  // absent: every available processor
};

// Binds the constructor's arguments by Python's rules into `objects`. Returns false with
// a Python error set (TypeError) when they do not bind.
bool bind_parameters(PyObject* args, PyObject* kwargs, ParameterObjects& objects);

// The index of a parameter name, or nothing.
std::optional<std::size_t> parameter_index(PyObject* name);

// Converts and validates the objects in parameter order, with the constructor's checks
// and messages. Returns nothing with a Python error set on the first failure.
std::optional<Parameters> convert_parameters(const ParameterObjects& objects);

// The processors a call may use under `n_jobs`.
std::size_t thread_budget(const std::optional<std::size_t>& n_jobs);

}  // namespace corvane::python
