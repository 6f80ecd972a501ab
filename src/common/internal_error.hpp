#pragma once

#include <stdexcept>
#include <string>

namespace corvane {

// A broken invariant: state that correct code never reaches. It abandons the
// current call; the Python binding reports it as the module's internal-error
// exception. Expected failures are HdbscanError values instead.
class InternalError : public std::runtime_error {
  public:
    explicit InternalError(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] inline void fail_internal(const std::string& message) {
    throw InternalError(message);
}

// Index check kept in release builds for the places where an out-of-range
// index would otherwise corrupt memory silently.
inline void check_index(std::size_t index, std::size_t size, const char* what) {
    if (index >= size) {
        fail_internal(std::string(what) + ": index " + std::to_string(index) +
                      " out of range for size " + std::to_string(size));
    }
}

}  // namespace corvane
