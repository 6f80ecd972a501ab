#pragma once

#include <optional>
#include <string>

namespace corvane {

// This process's control-group path for `controller` (for example "cpu" or
// "memory" under cgroup v1), or for the cgroup v2 unified hierarchy when
// `controller` is empty; nothing when /proc/self/cgroup does not list it.
std::optional<std::string> cgroup_path(const std::string& controller);

}  // namespace corvane
