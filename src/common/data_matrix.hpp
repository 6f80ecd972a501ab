#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace corvane {

// rows x cols 64-bit floats, one point per row, row-major and contiguous:
// element (i, j) lives at values[i * cols + j].
struct DataMatrix {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<double> values;

    DataMatrix() = default;
    // Zero-filled; throws std::bad_alloc when rows * cols does not fit in memory.
    DataMatrix(std::size_t n_rows, std::size_t n_cols);

    double* row(std::size_t i) { return values.data() + i * cols; }
    const double* row(std::size_t i) const { return values.data() + i * cols; }
    std::span<const double> row_span(std::size_t i) const { return {row(i), cols}; }
    double& at(std::size_t i, std::size_t j) { return values[i * cols + j]; }
    double at(std::size_t i, std::size_t j) const { return values[i * cols + j]; }
};

}  // namespace corvane
