#include "vault/sibling_path.hpp"

#include <string>

#include "core/utf8.hpp"

namespace quillbox {
namespace {

// Drops trailing separators and "." components, which do not name a file:
// "dir/vault.bin/." names vault.bin.
std::string_view without_trailing_noise(std::string_view path) {
    for (;;) {
        while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
        if (path == "." || path.ends_with("/.")) {
            path.remove_suffix(1);
        } else {
            return path;
        }
    }
}

}  // namespace

std::filesystem::path sibling_path(const std::filesystem::path& target, std::string_view suffix) {
    const std::string_view trimmed = without_trailing_noise(target.native());
    const std::size_t slash = trimmed.rfind('/');
    const std::string_view directory =
        slash == std::string_view::npos ? std::string_view() : trimmed.substr(0, slash + 1);
    const std::string_view name = trimmed.substr(directory.size());
    if (name.empty() || name == "..") return target / (std::string("vault").append(suffix));
    return std::filesystem::path(std::string(directory) + decode_utf8_lossy(name).append(suffix));
}

}  // namespace quillbox
