#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace corvane {

// The expected failures of the system, in their fixed order.
enum class ErrorKind : std::uint8_t {
    EmptyInput,
    NonFiniteInput,
    MinClusterSizeTooSmall,
    MinSamplesTooSmall,
    MinSamplesExceedsPoints,
    PrecomputedNotSquare,
    PrecomputedNegative,
    NotFitted,
    DimensionMismatch,
    InvalidMinkowskiP,
    MaxClusterSizeTooSmall,
    EpsilonMaxTooSmall,
    RefitRequired,
    InvalidCutDistance,
    InvalidCutMinClusterSize,
    NoCoordinates,
};

// A failure reported as a value. `first` and `second` carry the numbers of the
// kinds that have them (in message order): unsigned in `first` and `second`,
// floats in `p` and `q` (`p` alone is the number that InvalidMinkowskiP,
// InvalidCutDistance and InvalidCutMinClusterSize refuse). Only the Python
// binding turns it into an exception.
struct HdbscanError {
    ErrorKind kind = ErrorKind::EmptyInput;
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    double p = 0.0;
    double q = 0.0;

    static HdbscanError empty_input() { return {ErrorKind::EmptyInput}; }
    static HdbscanError non_finite_input() { return {ErrorKind::NonFiniteInput}; }
    static HdbscanError min_cluster_size_too_small(std::uint64_t value) {
        return {ErrorKind::MinClusterSizeTooSmall, value};
    }
    static HdbscanError min_samples_too_small(std::uint64_t value) {
        return {ErrorKind::MinSamplesTooSmall, value};
    }
    static HdbscanError min_samples_exceeds_points(std::uint64_t k, std::uint64_t n) {
        return {ErrorKind::MinSamplesExceedsPoints, k, n};
    }
    static HdbscanError precomputed_not_square(std::uint64_t rows, std::uint64_t cols) {
        return {ErrorKind::PrecomputedNotSquare, rows, cols};
    }
    static HdbscanError precomputed_negative() { return {ErrorKind::PrecomputedNegative}; }
    static HdbscanError not_fitted() { return {ErrorKind::NotFitted}; }
    static HdbscanError dimension_mismatch(std::uint64_t expected, std::uint64_t got) {
        return {ErrorKind::DimensionMismatch, expected, got};
    }
    static HdbscanError invalid_minkowski_p(double value) {
        return {ErrorKind::InvalidMinkowskiP, 0, 0, value};
    }
    static HdbscanError max_cluster_size_too_small(std::uint64_t min_cluster_size,
                                                   std::uint64_t value) {
        return {ErrorKind::MaxClusterSizeTooSmall, min_cluster_size, value};
    }
    static HdbscanError epsilon_max_too_small(double epsilon, double value) {
        return {ErrorKind::EpsilonMaxTooSmall, 0, 0, epsilon, value};
    }
    static HdbscanError refit_required() { return {ErrorKind::RefitRequired}; }
    static HdbscanError invalid_cut_distance(double value) {
        return {ErrorKind::InvalidCutDistance, 0, 0, value};
    }
    static HdbscanError invalid_cut_min_cluster_size(double value) {
        return {ErrorKind::InvalidCutMinClusterSize, 0, 0, value};
    }
    static HdbscanError no_coordinates() { return {ErrorKind::NoCoordinates}; }

    std::string message() const;
};

template <class T>
using Expected = std::expected<T, HdbscanError>;

}  // namespace corvane
