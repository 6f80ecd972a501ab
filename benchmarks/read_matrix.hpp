#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/data_matrix.hpp"

namespace corvane_bench {

// Reads the raw little-endian matrix the benchmark scripts write: rows and columns as
// two unsigned 64-bit integers, then the row-major 64-bit floats. Exits on a short file.
inline corvane::DataMatrix read_matrix(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t shape[2] = {0, 0};
    in.read(reinterpret_cast<char*>(shape), sizeof shape);
    corvane::DataMatrix m(shape[0], shape[1]);
    in.read(reinterpret_cast<char*>(m.values.data()),
            static_cast<std::streamsize>(m.values.size() * sizeof(double)));
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(1);
    }
    return m;
}

}  // namespace corvane_bench
