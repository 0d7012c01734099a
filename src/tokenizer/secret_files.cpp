#include "tokenizer/secret_files.hpp"

namespace quillbox {

Result<std::string> SecretFiles::path_for(std::string_view key, const SecretBytes& value) {
    for (const auto& [name, file] : files_) {
        if (name == key) return file.path();
    }
    Result<SealedFile> file = SealedFile::holding(value.view());
    if (!file) return fail(std::move(file.error()));
    files_.emplace_back(std::string(key), std::move(*file));
    return files_.back().second.path();
}

std::vector<SealedFile> SecretFiles::take() {
    std::vector<SealedFile> files;
    files.reserve(files_.size());
    for (auto& [name, file] : files_) files.push_back(std::move(file));
    files_.clear();
    return files;
}

}  // namespace quillbox
