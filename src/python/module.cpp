// The extension module corvane: created once per process, refused in
// sub-interpreters (the HDBSCAN type and the cached NumPy API are process-wide).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "python/hdbscan_object.hpp"
#include "python/python_errors.hpp"

namespace corvane::python {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "corvane",
    "High-performance HDBSCAN clustering.",
    // A non-negative size makes every import call the init function again, so
    // a second interpreter can be refused and a repeated import in this one
    // gets the module created first.
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* the_module = nullptr;  // owned for the life of the process
PyInterpreterState* module_interpreter = nullptr;

bool add_to_all(PyObject* module) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");  // owned
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyModule_AddObjectRef(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return false;
        }
    }
    PyObject* name = PyUnicode_FromString("HDBSCAN");  // owned
    const bool ok = name != nullptr && PyList_Append(all, name) == 0;
    Py_XDECREF(name);
    Py_DECREF(all);
    return ok;
}

PyObject* create_module() {
    if (!create_internal_error_type() || PyType_Ready(&hdbscan_type) < 0) return nullptr;
    PyObject* module = PyModule_Create(&module_def);  // owned
    if (module == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module, "HDBSCAN", reinterpret_cast<PyObject*>(&hdbscan_type)) < 0 ||
        PyModule_AddObjectRef(module, "InternalError", internal_error_type) < 0 ||
        !add_to_all(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace
}  // namespace corvane::python

PyMODINIT_FUNC PyInit_corvane(void) {
    using namespace corvane::python;
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    if (the_module != nullptr) {
        if (interpreter != module_interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "corvane does not support sub-interpreters; import it in the main "
                            "interpreter only");
            return nullptr;
        }
        Py_INCREF(the_module);
        return the_module;
    }
    PyObject* module = create_module();
    if (module == nullptr) return nullptr;
    the_module = module;
    module_interpreter = interpreter;
    Py_INCREF(the_module);
    return the_module;
}
