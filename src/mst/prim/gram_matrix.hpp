#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "common/data_matrix.hpp"
#include "parallel/execution_context.hpp"

namespace corvane {

// Releases memory from std::aligned_alloc.
struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};

// Symmetric n x n matrix of row inner products, row-major.
struct GramMatrix {
    std::size_t n = 0;
    std::unique_ptr<double[], FreeDeleter> values;

    const double* row(std::size_t i) const { return values.get() + i * n; }
    double at(std::size_t i, std::size_t j) const { return values[i * n + j]; }
};

// The data with each column's mean subtracted. Distances do not change, but
// inner products stop carrying the data's offset from the origin, which would
// otherwise cancel catastrophically in s(i) + s(j) - 2 G[i][j].
DataMatrix centred_columns(const DataMatrix& data);

// G = X * X^T. Each entry is the plain running sum of x[i][c] * x[j][c] over
// the columns c in order, so G is exactly symmetric and equal to a naive loop
// whatever the blocking, the vector width or the number of threads (up to
// context.threads() workers share the tiles). Throws std::bad_alloc when n x n
// doubles do not fit in memory.
GramMatrix gram_matrix(const DataMatrix& x, const ExecutionContext& context);

}  // namespace corvane
