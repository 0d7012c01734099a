#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "core/vault_entry.hpp"
#include "vault/kdf_params.hpp"

namespace quillbox::testing {

// Cheap Argon2 parameters, so that every open and save stays fast.
inline constexpr KdfParams kTinyParams{8, 1, 1};
inline constexpr const char* kPassphraseVariable = "QUILLBOX_STORE_TEST_PASSPHRASE";

// A fresh directory under the system's temporary directory, removed with
// everything in it (whatever its modes) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Encodes the entries under the passphrase in `variable` and writes the image
// to `path` with the given mode.
void write_vault_file(const std::filesystem::path& path, const VaultEntries& entries,
                      std::string_view variable = kPassphraseVariable, mode_t mode = 0600);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view contents);
mode_t mode_of(const std::filesystem::path& path);

// The entries a vault file holds, read with the passphrase in `variable`.
VaultEntries read_vault_file(const std::filesystem::path& path,
                             std::string_view variable = kPassphraseVariable);

// Another process that holds the exclusive flock on `lockfile` and has written
// `record` into it. It holds the lock until release() or until the object goes.
class LockHolder {
public:
    LockHolder(const std::filesystem::path& lockfile, std::string_view record);
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // Ends the holder, and with it the lock; its record stays in the lockfile.
    void release();

private:
    pid_t pid_;
};

// Directory permissions do not bind root. Tests that need a directory nobody
// may write to run their body in a child that gives up root first; the files
// that body must reach are handed to that user beforehand. Both do nothing when
// the tests do not run as root.
void hand_to_unprivileged_user(const std::filesystem::path& path);
void become_unprivileged_user();

}  // namespace quillbox::testing
