#include "python/hdbscan_methods.hpp"

#include "python/predict_method.hpp"

namespace corvane::python {

PyMethodDef hdbscan_methods[] = {
    {"approximate_predict",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hdbscan_approximate_predict)),
     METH_VARARGS | METH_KEYWORDS, approximate_predict_doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace corvane::python
