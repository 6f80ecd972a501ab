#pragma once

#include <cstddef>
#include <span>

namespace corvane {

// A read-only point: `size` 64-bit floats starting at `data`, `stride` elements
// apart. Rows of a DataMatrix convert implicitly and have stride 1.
struct PointView {
    const double* data = nullptr;
    std::size_t size = 0;
    std::size_t stride = 1;

    constexpr PointView() = default;
    constexpr PointView(const double* start, std::size_t length, std::size_t step = 1)
        : data(start), size(length), stride(step) {}
    constexpr PointView(std::span<const double> values)  // NOLINT(google-explicit-constructor)
        : data(values.data()), size(values.size()) {}

    bool contiguous() const { return stride == 1; }
    double operator[](std::size_t i) const { return data[i * stride]; }
};

}  // namespace corvane
