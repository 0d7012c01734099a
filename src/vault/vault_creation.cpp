#include "vault/vault_creation.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "core/core_dumps.hpp"
#include "core/message_format.hpp"
#include "vault/file_io.hpp"
#include "vault/format.hpp"
#include "vault/store.hpp"

namespace quillbox {
namespace {

CoreError already_exists(const std::filesystem::path& path) {
    return errors::IoMessage{"a file already exists at " + quoted_path(path) +
                             " — a new vault never replaces it; remove it first or choose "
                             "another path"};
}

// Another user who could write a directory on the way to the vault could put
// their own file, link or directory where the vault is to be. Root's
// directories are trusted, and a directory others can write is fine when its
// sticky bit keeps them from removing or renaming what is not theirs (/tmp).
Status check_directories_on_the_way(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return fail(errors::OsError{error.value()});
    std::filesystem::path directory;
    for (const std::filesystem::path& component : absolute.parent_path()) {
        directory /= component;
        struct stat metadata{};
        // Folders yet to be made are made private to the owner; one that is
        // there but cannot be examined is not trusted.
        if (::stat(directory.c_str(), &metadata) != 0) {
            if (errno == ENOENT) return {};
            return fail(
                CoreError::from_errno().in_circumstance("checking " + quoted_path(directory)));
        }
        const auto refuse = [&](std::string problem) {
            return fail(errors::UnsafePath{
                directory, std::move(problem) + " — a vault is created only where no other user "
                                                "can replace it; choose a directory only you can "
                                                "write"});
        };
        if (metadata.st_uid != ::geteuid() && metadata.st_uid != 0) {
            return refuse("is owned by another user (uid " + std::to_string(metadata.st_uid) + ")");
        }
        if ((metadata.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (metadata.st_mode & S_ISVTX) == 0) {
            return refuse("can be written by other users and has no sticky bit");
        }
    }
    return {};
}

// Creates the file exclusively, so that a vault made meanwhile by someone else
// is not overwritten either; a file left half written is removed again.
Status write_new_file(const std::filesystem::path& path, const VaultImage& image) {
    Result<UniqueFd> fd = open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!fd) {
        if (fd.error().is_os_error({EEXIST})) return fail(already_exists(path));
        return fail(fd.error());
    }
    Status written = write_all(fd->get(), image);
    if (written && ::fchmod(fd->get(), 0600) != 0) written = fail(CoreError::from_errno());
    if (written && ::fsync(fd->get()) != 0) written = fail(CoreError::from_errno());
    if (!written) ::unlink(path.c_str());
    return written;
}

}  // namespace

Result<std::filesystem::path> create_vault_file(
    const std::optional<std::filesystem::path>& vault_path, const KdfParams& params,
    std::string_view passphrase_variable) {
    // The passphrase and the key derived from it are about to be in memory.
    suppress_core_dumps();
    const std::filesystem::path path = vault_path.value_or(default_vault_path());
    // Refuse early, before the slow key derivation; the exclusive create below
    // is what guarantees it.
    if (stat_path(path)) return fail(already_exists(path));
    if (Status safe = check_directories_on_the_way(path); !safe) return fail(safe.error());
    const Result<VaultImage> image = encode_vault({}, params, passphrase_variable);
    if (!image) return fail(image.error());
    if (Status prepared = create_missing_parent_directory(path); !prepared) {
        return fail(prepared.error());
    }
    if (Status written = write_new_file(path, *image); !written) return fail(written.error());
    return path;
}

}  // namespace quillbox
