#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.hpp"
#include "core/sealed_file.hpp"
#include "core/secret_bytes.hpp"

namespace quillbox {

// The in-memory files that one command's `{{file:KEY}}` placeholders name:
// one per key, made when the key is first met, however often it is named.
class SecretFiles {
public:
    // The path of the file that holds the entry `key`, whose value is `value`.
    Result<std::string> path_for(std::string_view key, const SecretBytes& value);

    // Hands the files over, in the order they were made.
    std::vector<SealedFile> take();

private:
    std::vector<std::pair<std::string, SealedFile>> files_;
};

}  // namespace quillbox
