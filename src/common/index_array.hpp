#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/large_array_allocator.hpp"

namespace corvane {

// Whether every index below `bound` fits in 4 bytes.
inline bool narrow_indices_fit(std::size_t bound) {
    return bound <= std::size_t{std::numeric_limits<std::uint32_t>::max()} + 1;
}

// Indices (of points or hierarchy nodes) below a bound fixed at construction, stored in
// 4 bytes each when the bound allows and in 8 otherwise: what a fitted model keeps per
// point takes half the memory for any data set of fewer than 2^32 points. Reads widen to
// std::size_t; the width is one branch that every read of a given array takes alike.
class IndexArray {
  public:
    IndexArray() = default;

    // `size` zeros, room for indices below `bound`.
    IndexArray(std::size_t size, std::size_t bound) : narrow_(narrow_indices_fit(bound)) {
        if (narrow_) {
            narrow_values_.assign(size, 0);
        } else {
            wide_values_.assign(size, 0);
        }
    }

    std::size_t size() const { return narrow_ ? narrow_values_.size() : wide_values_.size(); }

    std::size_t operator[](std::size_t i) const {
        return narrow_ ? narrow_values_[i] : static_cast<std::size_t>(wide_values_[i]);
    }

    void reserve(std::size_t size) {
        if (narrow_) {
            narrow_values_.reserve(size);
        } else {
            wide_values_.reserve(size);
        }
    }

    // Zeros added (or values dropped) at the end.
    void resize(std::size_t size) {
        if (narrow_) {
            narrow_values_.resize(size);
        } else {
            wide_values_.resize(size);
        }
    }

    // `value` must be below the bound given at construction.
    void push_back(std::size_t value) {
        if (narrow_) {
            narrow_values_.push_back(static_cast<std::uint32_t>(value));
        } else {
            wide_values_.push_back(value);
        }
    }

    // `value` must be below the bound given at construction.
    void set(std::size_t i, std::size_t value) {
        if (narrow_) {
            narrow_values_[i] = static_cast<std::uint32_t>(value);
        } else {
            wide_values_[i] = value;
        }
    }

    std::size_t bytes() const {
        return narrow_values_.capacity() * sizeof(std::uint32_t) +
               wide_values_.capacity() * sizeof(std::uint64_t);
    }

  private:
    bool narrow_ = true;
    LargeArray<std::uint32_t> narrow_values_;
    LargeArray<std::uint64_t> wide_values_;
};

}  // namespace corvane
