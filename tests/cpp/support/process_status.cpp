#include "support/process_status.hpp"

#include <fstream>
#include <string>

namespace quillbox::testing {

std::size_t process_status_kib(std::string_view field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
            return std::stoul(line.substr(field.size() + 1));
        }
    }
    return 0;
}

}  // namespace quillbox::testing
