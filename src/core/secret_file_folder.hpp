#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/locked_file_view.hpp"
#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// One run's folder of secret files, on a file system in memory: a folder
// "quillbox-<pid>-XXXXXX" of mode 0700 under the memory base, holding one
// file per name, of mode 0400, whose pages are locked into memory where the
// system allows. A program that closes every descriptor it inherited still
// opens them by path. The folder is locked (flock) while it lives, so that
// no sweep takes it for a dead run's.
//
// Its owner keeps it until the run is over. When it goes, on every path, each
// file is overwritten with zeros, unlinked and closed, and the folder, with
// anything the command left in it, is removed.
class SecretFileFolder {
public:
    // Sweeps away the folders that dead runs left in `base`
    // (sweep_stale_run_folders), then makes this run's. An operating-system
    // error where the folder cannot be made or locked.
    static Result<SecretFileFolder> make_in(const std::filesystem::path& base);

    ~SecretFileFolder();
    SecretFileFolder(SecretFileFolder&&) noexcept = default;
    SecretFileFolder& operator=(SecretFileFolder&&) = delete;
    SecretFileFolder(const SecretFileFolder&) = delete;
    SecretFileFolder& operator=(const SecretFileFolder&) = delete;

    // The path of the file `name` (a valid key name), which holds `contents`:
    // made when the name is first asked for, the same file after that. An
    // operating-system error where it cannot be made or filled.
    Result<std::filesystem::path> file_for(std::string_view name, std::string_view contents);

    const std::filesystem::path& path() const { return path_; }

private:
    struct HeldFile {
        std::string name;
        // Open for writing, so that it can be wiped whatever its mode.
        UniqueFd fd;
        LockedFileView view;
    };

    SecretFileFolder(std::filesystem::path path, UniqueFd base, UniqueFd folder)
        : path_(std::move(path)), base_(std::move(base)), folder_(std::move(folder)) {}

    std::filesystem::path path_;
    UniqueFd base_;
    // Holds the folder's lock until the folder is gone.
    UniqueFd folder_;
    std::vector<HeldFile> files_;
};

}  // namespace quillbox
