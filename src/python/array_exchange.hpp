#pragma once

#include <Python.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "common/data_matrix.hpp"
#include "condensed_tree/condensed_tree.hpp"

namespace corvane::python {

// Copies a 2-D float32/float64 ndarray of any strides into a DataMatrix.
// Returns nullopt with a Python exception set (TypeError for anything else).
// May throw std::bad_alloc; call it inside `guarded`.
std::optional<DataMatrix> to_data_matrix(PyObject* x);

// New one-dimensional arrays holding a copy of the values.
PyObject* copy_to_array(std::span<const std::int32_t> values);
PyObject* copy_to_array(std::span<const double> values);

PyObject* copy_to_array(std::span<const std::int64_t> values);

// New read-only arrays over memory that `owner` keeps alive as long as they live: one
// dimension, or rows x (values.size() / rows) in row-major order.
PyObject* view_as_array(std::span<const double> values, std::shared_ptr<const void> owner);
PyObject* view_as_matrix(std::span<const double> values, std::size_t rows,
                         std::shared_ptr<const void> owner);

// Copies of ndarrays of float64 (either byte order, any strides) and of int64. Nothing,
// with no Python error set, for anything else (another type, dtype or number of
// dimensions); nothing with an error set when the copy fails (MemoryError).
std::optional<std::vector<double>> read_float_vector(PyObject* object);
std::optional<DataMatrix> read_float_matrix(PyObject* object);
std::optional<std::vector<std::int64_t>> read_int_vector(PyObject* object);

// New one-dimensional arrays that take over the vector's memory.
PyObject* move_to_array(std::vector<std::int32_t>&& values);
PyObject* move_to_array(std::vector<double>&& values);

// A new rows x cols float64 array that takes over the matrix's memory.
PyObject* move_to_array(DataMatrix&& matrix);

// A new one-dimensional int64 array of the indices, `missing` becoming -1.
PyObject* copy_to_index_array(std::span<const std::size_t> indices,
                              std::size_t missing = std::numeric_limits<std::size_t>::max());

// A new structured array, one record (parent, child, lambda_val, child_size: int64, int64,
// float64, int64) per edge, that takes over the edges' memory.
PyObject* move_to_record_array(CondensedTree&& tree);

}  // namespace corvane::python
