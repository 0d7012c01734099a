#include "tokenizer/secret_files.hpp"

#include <utility>

#include "core/memory_base.hpp"

namespace quillbox {

Result<std::string> SecretFiles::path_for(std::string_view key, const SecretBytes& value) {
    if (!folder_) {
        Result<std::filesystem::path> base = memory_base();
        if (!base) return fail(std::move(base.error()));
        Result<SecretFileFolder> folder = SecretFileFolder::make_in(*base);
        if (!folder) return fail(std::move(folder.error()));
        folder_.emplace(std::move(*folder));
    }
    Result<std::filesystem::path> path = folder_->file_for(key, value.view());
    if (!path) return fail(std::move(path.error()));
    return path->string();
}

std::optional<SecretFileFolder> SecretFiles::take() {
    return std::exchange(folder_, std::nullopt);
}

}  // namespace quillbox
