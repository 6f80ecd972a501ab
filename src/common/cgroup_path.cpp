#include "common/cgroup_path.hpp"

#include <fstream>

namespace corvane {

std::optional<std::string> cgroup_path(const std::string& controller) {
    std::ifstream file("/proc/self/cgroup");
    std::string line;
    while (std::getline(file, line)) {
        // hierarchy-id:controller-list:path
        const auto first = line.find(':');
        const auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const bool match =
            controller.empty()
                ? controllers.empty()
                : ("," + controllers + ",").find("," + controller + ",") != std::string::npos;
        if (match) return line.substr(second + 1);
    }
    return std::nullopt;
}

}  // namespace corvane
