#include "sandbox/denials.hpp"

#include <algorithm>

namespace quillbox {

bool is_within(const std::filesystem::path& path, const std::filesystem::path& root) {
    return std::ranges::mismatch(root, path).in1 == root.end();
}

void Denials::add(std::filesystem::path path) {
    paths_.push_back(std::move(path));
}

void Denials::add_family(std::filesystem::path folder, std::string stem) {
    families_.push_back({std::move(folder), std::move(stem)});
}

bool Denials::covers(const std::filesystem::path& path) const {
    const auto in_family = [&](const Family& family) {
        if (!is_within(path, family.folder) || path == family.folder) return false;
        const std::string entry = path.lexically_relative(family.folder).begin()->string();
        return entry.starts_with(family.stem);
    };
    return std::ranges::any_of(paths_,
                               [&](const auto& denied) { return is_within(path, denied); }) ||
           std::ranges::any_of(families_, in_family);
}

bool Denials::lie_beneath(const std::filesystem::path& directory) const {
    const auto beneath = [&](const std::filesystem::path& denied) {
        return denied != directory && is_within(denied, directory);
    };
    return std::ranges::any_of(paths_, beneath) ||
           std::ranges::any_of(families_, [&](const Family& family) {
               return is_within(family.folder, directory);
           });
}

}  // namespace quillbox
