#include "common/stage_clock.hpp"

#include <fstream>
#include <string>

namespace corvane {

std::optional<double> resident_peak_bytes() noexcept {
    try {
        std::ifstream status("/proc/self/status");
        std::string key;
        while (status >> key) {
            if (key == "VmHWM:") {
                double kib = 0.0;
                if (status >> kib) return kib * 1024.0;
                return std::nullopt;
            }
            status.ignore(1 << 12, '\n');
        }
    } catch (...) {
    }
    return std::nullopt;
}

bool reset_resident_peak() noexcept {
    try {
        // "5" resets the peak resident size to the current one (proc(5), clear_refs).
        std::ofstream clear_refs("/proc/self/clear_refs");
        clear_refs << "5";
        clear_refs.flush();
        return static_cast<bool>(clear_refs);
    } catch (...) {
        return false;
    }
}

}  // namespace corvane
