#include "common/data_matrix.hpp"

#include <limits>
#include <new>

#include "common/memory_guard.hpp"

namespace corvane {

DataMatrix::DataMatrix(std::size_t n_rows, std::size_t n_cols) : rows(n_rows), cols(n_cols) {
    if (n_cols != 0 && n_rows > std::numeric_limits<std::size_t>::max() / sizeof(double) / n_cols) {
        throw std::bad_alloc();
    }
    require_memory(n_rows * n_cols * sizeof(double));
    values.assign(n_rows * n_cols, 0.0);
}

}  // namespace corvane
