#include "python/hdbscan_methods.hpp"

namespace corvane::python {

PyMethodDef hdbscan_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace corvane::python
