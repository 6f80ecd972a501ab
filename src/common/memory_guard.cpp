#include "common/memory_guard.hpp"

#include <algorithm>
#include <fstream>
#include <new>
#include <string>

#include "common/cgroup_path.hpp"

namespace corvane {
namespace {

std::optional<std::size_t> read_number(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text == "max") return std::nullopt;
    try {
        return static_cast<std::size_t>(std::stoull(text));
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::size_t> mem_available() {
    std::ifstream file("/proc/meminfo");
    std::string key;
    std::size_t kib = 0;
    std::string unit;
    while (file >> key >> kib >> unit) {
        if (key == "MemAvailable:") return kib * 1024;
    }
    return std::nullopt;
}

std::optional<std::size_t> cgroup_headroom() {
    const std::string v2 = "/sys/fs/cgroup" + cgroup_path("").value_or("/");
    auto limit = read_number(v2 + "/memory.max");
    auto usage = read_number(v2 + "/memory.current");
    if (!limit || !usage) {
        const std::string v1 = "/sys/fs/cgroup/memory" + cgroup_path("memory").value_or("/");
        limit = read_number(v1 + "/memory.limit_in_bytes");
        usage = read_number(v1 + "/memory.usage_in_bytes");
    }
    if (!limit || !usage) return std::nullopt;
    return *limit > *usage ? *limit - *usage : 0;
}

}  // namespace

std::optional<std::size_t> available_memory_bytes() noexcept {
    try {
        std::optional<std::size_t> available = mem_available();
        if (const auto headroom = cgroup_headroom()) {
            available = available ? std::min(*available, *headroom) : *headroom;
        }
        return available;
    } catch (...) {
        return std::nullopt;
    }
}

void require_memory(std::size_t bytes) {
    constexpr std::size_t unchecked = std::size_t{64} << 20;
    if (bytes < unchecked) return;
    const std::optional<std::size_t> available = available_memory_bytes();
    if (available && bytes > *available) throw std::bad_alloc();
}

}  // namespace corvane
