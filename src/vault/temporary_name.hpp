#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "vault/random_source.hpp"

namespace quillbox {

// The name of one atomic write's temporary file, next to its target:
// "<target name>.tmp.<pid>.<16 hex digits>". The process ID tells whoever
// looks which process wrote it; the 64 random bits make the name unique, also
// between processes whose IDs are alike because they live in different PID
// namespaces (containers that share the vault's folder). A failure of the
// random source is its error, never a weaker name.
Result<std::filesystem::path> new_temporary_path(const std::filesystem::path& target,
                                                 const RandomSource& random = fill_random);

// Where the temporary files of one target are, and how their names look.
class TemporaryNames {
public:
    explicit TemporaryNames(const std::filesystem::path& target);

    const std::filesystem::path& directory() const { return directory_; }

    // Whether `file_name` (without a directory) has the form of the names that
    // new_temporary_path gives for the target.
    bool matches(std::string_view file_name) const;

private:
    std::filesystem::path directory_;
    std::string prefix_;
};

}  // namespace quillbox
