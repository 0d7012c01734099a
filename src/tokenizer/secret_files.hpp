#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/secret_file_folder.hpp"

namespace quillbox {

// The files that one command's `{{file:KEY}}` placeholders name: one per
// key, made when the key is first met, however often it is named, in a
// folder of the run's own under the memory base (memory_base), which is made
// with the first file.
class SecretFiles {
public:
    // The path of the file that holds the entry `key`, whose value is `value`.
    // NoMemoryFolder where no folder in memory can take it.
    Result<std::string> path_for(std::string_view key, const SecretBytes& value);

    // Hands the folder over, with its files; none when no key was named.
    std::optional<SecretFileFolder> take();

private:
    std::optional<SecretFileFolder> folder_;
};

}  // namespace quillbox
