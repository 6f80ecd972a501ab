// The only translation unit that talks to NumPy's C API. The API table is
// loaded on first use; building against NumPy 2 headers keeps the module
// importable under NumPy 1.x and 2.x.
#define PY_SSIZE_T_CLEAN
#include "python/array_exchange.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL corvane_ARRAY_API
#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "python/owned_ref.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {
namespace {

constexpr const char* bad_array_message =
    "Expected a 2-D numpy array with dtype float32 or float64";

// Loads NumPy's array API table once; failure is an internal error.
bool ensure_numpy_api() {
    if (PyArray_API != nullptr) return true;
    if (_import_array() >= 0) return true;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    std::string message = "failed to load the NumPy array API";
    if (value != nullptr) {
        if (PyObject* text = PyObject_Str(value)) {
            if (const char* utf8 = PyUnicode_AsUTF8(text)) message += std::string(": ") + utf8;
            Py_DECREF(text);
        }
        PyErr_Clear();
    }
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    raise_internal_error(message.c_str());
    return false;
}

bool dtype_is(PyArrayObject* array, int type_number) {
    PyArray_Descr* wanted = PyArray_DescrFromType(type_number);  // owned
    if (wanted == nullptr) return false;
    const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(array), wanted) != 0;
    Py_DECREF(wanted);
    return equivalent;
}

// Element (i, j) of the result is X[i, j]: follows any strides, including
// negative ones, and reads through memcpy so unaligned views are safe.
template <class Element>
void copy_elements(PyArrayObject* array, DataMatrix& out) {
    const char* base = PyArray_BYTES(array);
    const npy_intp row_stride = PyArray_STRIDE(array, 0);
    const npy_intp col_stride = PyArray_STRIDE(array, 1);
    double* target = out.values.data();
    for (std::size_t i = 0; i < out.rows; ++i) {
        const char* row = base + static_cast<npy_intp>(i) * row_stride;
        for (std::size_t j = 0; j < out.cols; ++j) {
            Element value;
            std::memcpy(&value, row + static_cast<npy_intp>(j) * col_stride, sizeof value);
            *target++ = static_cast<double>(value);
        }
    }
}

// A C-ordered array over `data`, or over new memory when `data` is null. Steals `descr`.
PyObject* new_array(PyArray_Descr* descr, int dimensions, const npy_intp* shape, void* data) {
    if (descr == nullptr) return nullptr;
    // With new memory, any flag would ask for Fortran order.
    const int flags = data != nullptr ? NPY_ARRAY_CARRAY : 0;
    PyObject* array =
        PyArray_NewFromDescr(&PyArray_Type, descr, dimensions, const_cast<npy_intp*>(shape),
                             nullptr, data, flags, nullptr);
    if (array == nullptr && !PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        raise_internal_error("failed to create a NumPy array");
    }
    return array;
}

PyObject* new_array(int type_number, std::size_t length, void* data) {
    const npy_intp shape[1] = {static_cast<npy_intp>(length)};
    return new_array(PyArray_DescrFromType(type_number), 1, shape, data);
}

template <class T>
PyObject* copy_values(std::span<const T> values, int type_number) {
    if (!ensure_numpy_api()) return nullptr;
    PyObject* array = new_array(type_number, values.size(), nullptr);
    if (array != nullptr && !values.empty()) {
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)), values.data(),
                    values.size_bytes());
    }
    return array;
}

// `array` with `capsule`, which keeps its memory alive, as its base; the capsule reference
// is consumed whether or not `array` is null or the base cannot be set.
PyObject* with_base(PyObject* array, PyObject* capsule) {
    if (array == nullptr) {
        Py_DECREF(capsule);
        return nullptr;
    }
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array), capsule) < 0) {
        Py_DECREF(array);
        return nullptr;
    }
    return array;
}

template <class T>
void delete_vector_capsule(PyObject* capsule) {
    delete static_cast<std::vector<T>*>(PyCapsule_GetPointer(capsule, "corvane.vector"));
}

// A new array over the vector's memory, of `shape` and the type `descr` (stolen); the
// array owns the vector from here on, also when this fails.
template <class T>
PyObject* array_over(std::vector<T>&& values, PyArray_Descr* descr, int dimensions,
                     const npy_intp* shape) {
    auto holder = std::make_unique<std::vector<T>>(std::move(values));
    PyObject* capsule = PyCapsule_New(holder.get(), "corvane.vector", delete_vector_capsule<T>);
    if (capsule == nullptr) {
        Py_XDECREF(descr);
        return nullptr;
    }
    std::vector<T>* owned = holder.release();  // the capsule deletes it from here on
    return with_base(new_array(descr, dimensions, shape, owned->data()), capsule);
}

template <class T>
PyObject* move_values(std::vector<T>&& values, int type_number) {
    if (values.empty()) return copy_values(std::span<const T>(values), type_number);
    if (!ensure_numpy_api()) return nullptr;
    const npy_intp shape[1] = {static_cast<npy_intp>(values.size())};
    return array_over(std::move(values), PyArray_DescrFromType(type_number), 1, shape);
}

// The record type of condensed_tree_, laid out as CondensedEdge is.
PyArray_Descr* condensed_edge_descr() {
    PyObject* fields = Py_BuildValue("[(ss)(ss)(ss)(ss)]", "parent", "i8", "child", "i8",
                                     "lambda_val", "f8", "child_size", "i8");  // owned
    if (fields == nullptr) return nullptr;
    PyArray_Descr* descr = nullptr;
    const int converted = PyArray_DescrConverter(fields, &descr);
    Py_DECREF(fields);
    if (converted == NPY_FAIL) return nullptr;
    if (PyDataType_ELSIZE(descr) != static_cast<npy_intp>(sizeof(CondensedEdge))) {
        Py_DECREF(descr);
        raise_internal_error("condensed tree records differ in size from CondensedEdge");
        return nullptr;
    }
    return descr;
}

static_assert(sizeof(CondensedEdge) == 32 && offsetof(CondensedEdge, child) == 8 &&
                  offsetof(CondensedEdge, lambda) == 16 &&
                  offsetof(CondensedEdge, child_size) == 24,
              "condensed tree records are four 8-byte fields in order");

void delete_owner_capsule(PyObject* capsule) {
    delete static_cast<std::shared_ptr<const void>*>(
        PyCapsule_GetPointer(capsule, "corvane.owner"));
}

PyObject* read_only_view(std::span<const double> values, int ndim, const npy_intp* dims,
                         std::shared_ptr<const void> owner) {
    if (!ensure_numpy_api()) return nullptr;
    auto holder = std::make_unique<std::shared_ptr<const void>>(std::move(owner));
    PyObject* capsule = PyCapsule_New(holder.get(), "corvane.owner", delete_owner_capsule);
    if (capsule == nullptr) return nullptr;
    holder.release();  // the capsule deletes it from here on
    PyArray_Descr* descr = PyArray_DescrFromType(NPY_DOUBLE);  // stolen below
    if (descr == nullptr) {
        Py_DECREF(capsule);
        return nullptr;
    }
    // NumPy does not write through an array without NPY_ARRAY_WRITEABLE.
    auto* data = const_cast<double*>(values.data());
    return with_base(
        PyArray_NewFromDescr(&PyArray_Type, descr, ndim, const_cast<npy_intp*>(dims), nullptr, data,
                             NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr),
        capsule);
}

// `object` as a C-contiguous, aligned array of `type_number` in native byte order, copied
// only when it is not one already, if it is an ndarray of `ndim` dimensions whose dtype is
// that type in either byte order; null otherwise (an error set only when a copy failed).
PyArrayObject* exact_array(PyObject* object, int ndim, int type_number) {
    if (!ensure_numpy_api()) return nullptr;
    if (!PyArray_Check(object)) return nullptr;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    PyArray_Descr* wanted = PyArray_DescrFromType(type_number);  // stolen below
    if (wanted == nullptr) return nullptr;
    const PyArray_Descr* given = PyArray_DESCR(array);
    if (PyArray_NDIM(array) != ndim || given->kind != wanted->kind ||
        PyDataType_ELSIZE(given) != PyDataType_ELSIZE(wanted)) {
        Py_DECREF(wanted);
        return nullptr;
    }
    return reinterpret_cast<PyArrayObject*>(PyArray_FromArray(array, wanted, NPY_ARRAY_IN_ARRAY));
}

template <class T>
std::optional<std::vector<T>> read_vector(PyObject* object, int type_number) {
    PyArrayObject* array = exact_array(object, 1, type_number);  // owned
    if (array == nullptr) return std::nullopt;
    const OwnedRef owned = OwnedRef::steal(reinterpret_cast<PyObject*>(array));
    const auto* first = static_cast<const T*>(PyArray_DATA(array));
    return std::vector<T>(first, first + PyArray_DIM(array, 0));
}

}  // namespace

PyObject* view_as_array(std::span<const double> values, std::shared_ptr<const void> owner) {
    const npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
    return read_only_view(values, 1, dims, std::move(owner));
}

PyObject* view_as_matrix(std::span<const double> values, std::size_t rows,
                         std::shared_ptr<const void> owner) {
    const std::size_t cols = rows == 0 ? 0 : values.size() / rows;
    const npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
    return read_only_view(values, 2, dims, std::move(owner));
}

std::optional<std::vector<double>> read_float_vector(PyObject* object) {
    return read_vector<double>(object, NPY_DOUBLE);
}

std::optional<std::vector<std::int64_t>> read_int_vector(PyObject* object) {
    return read_vector<std::int64_t>(object, NPY_INT64);
}

std::optional<DataMatrix> read_float_matrix(PyObject* object) {
    PyArrayObject* array = exact_array(object, 2, NPY_DOUBLE);  // owned
    if (array == nullptr) return std::nullopt;
    const OwnedRef owned = OwnedRef::steal(reinterpret_cast<PyObject*>(array));
    DataMatrix matrix(static_cast<std::size_t>(PyArray_DIM(array, 0)),
                      static_cast<std::size_t>(PyArray_DIM(array, 1)));
    if (!matrix.values.empty()) {
        std::memcpy(matrix.values.data(), PyArray_DATA(array),
                    matrix.values.size() * sizeof(double));
    }
    return matrix;
}

std::optional<DataMatrix> to_data_matrix(PyObject* x) {
    if (!ensure_numpy_api()) return std::nullopt;
    if (!PyArray_Check(x) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(x)) != 2) {
        PyErr_SetString(PyExc_TypeError, bad_array_message);
        return std::nullopt;
    }
    auto* array = reinterpret_cast<PyArrayObject*>(x);
    const bool is_double = dtype_is(array, NPY_DOUBLE);
    const bool is_float = !is_double && dtype_is(array, NPY_FLOAT);
    if (!is_double && !is_float) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, bad_array_message);
        return std::nullopt;
    }
    DataMatrix matrix(static_cast<std::size_t>(PyArray_DIM(array, 0)),
                      static_cast<std::size_t>(PyArray_DIM(array, 1)));
    if (matrix.values.empty()) return matrix;
    if (is_double && PyArray_IS_C_CONTIGUOUS(array)) {
        std::memcpy(matrix.values.data(), PyArray_DATA(array),
                    matrix.values.size() * sizeof(double));
    } else if (is_double) {
        copy_elements<double>(array, matrix);
    } else {
        copy_elements<float>(array, matrix);
    }
    return matrix;
}

PyObject* copy_to_array(std::span<const std::int32_t> values) {
    return copy_values(values, NPY_INT);
}
PyObject* copy_to_array(std::span<const double> values) {
    return copy_values(values, NPY_DOUBLE);
}
PyObject* copy_to_array(std::span<const std::int64_t> values) {
    return copy_values(values, NPY_INT64);
}

PyObject* move_to_array(std::vector<std::int32_t>&& values) {
    return move_values(std::move(values), NPY_INT);
}
PyObject* move_to_array(std::vector<double>&& values) {
    return move_values(std::move(values), NPY_DOUBLE);
}

PyObject* move_to_array(DataMatrix&& matrix) {
    if (!ensure_numpy_api()) return nullptr;
    const npy_intp shape[2] = {static_cast<npy_intp>(matrix.rows),
                               static_cast<npy_intp>(matrix.cols)};
    if (matrix.values.empty())
        return new_array(PyArray_DescrFromType(NPY_DOUBLE), 2, shape, nullptr);
    return array_over(std::move(matrix.values), PyArray_DescrFromType(NPY_DOUBLE), 2, shape);
}

PyObject* copy_to_index_array(std::span<const std::size_t> indices, std::size_t missing) {
    if (!ensure_numpy_api()) return nullptr;
    PyObject* array = new_array(NPY_INT64, indices.size(), nullptr);
    if (array == nullptr) return nullptr;
    auto* out = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
    for (std::size_t i = 0; i < indices.size(); ++i)
        out[i] = indices[i] == missing ? -1 : static_cast<std::int64_t>(indices[i]);
    return array;
}

PyObject* move_to_record_array(CondensedTree&& tree) {
    if (!ensure_numpy_api()) return nullptr;
    const npy_intp shape[1] = {static_cast<npy_intp>(tree.edges.size())};
    PyArray_Descr* descr = condensed_edge_descr();
    if (tree.edges.empty()) return new_array(descr, 1, shape, nullptr);
    return array_over(std::move(tree.edges), descr, 1, shape);
}

static_assert(sizeof(int) == sizeof(std::int32_t), "labels are exchanged as NPY_INT");
static_assert(sizeof(std::size_t) == sizeof(std::int64_t), "indices are exchanged as NPY_INT64");

}  // namespace corvane::python
