#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/data_matrix.hpp"

namespace corvane::python {

// Copies a 2-D float32/float64 ndarray of any strides into a DataMatrix.
// Returns nullopt with a Python exception set (TypeError for anything else).
// May throw std::bad_alloc; call it inside `guarded`.
std::optional<DataMatrix> to_data_matrix(PyObject* x);

// New one-dimensional arrays holding a copy of the values.
PyObject* copy_to_array(std::span<const std::int32_t> values);
PyObject* copy_to_array(std::span<const double> values);

// New one-dimensional arrays that take over the vector's memory.
PyObject* move_to_array(std::vector<std::int32_t>&& values);
PyObject* move_to_array(std::vector<double>&& values);

}  // namespace corvane::python
