#pragma once

#include <filesystem>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// Processes that use one vault coordinate through a lockfile next to the vault
// file, locked with flock: exclusively by a save while it replaces the vault
// file, shared by an open while it reads it. The exclusive holder writes its
// process ID and the time into the lockfile, so that a waiter can recognise a
// lock left behind by a process that died.

// The vault path with ".lock" appended to its file name ("vault.lock" when it
// has none).
std::filesystem::path lockfile_path(const std::filesystem::path& vault_path);

// The exclusive lock of one save. Dropping it unlocks, then empties the
// lockfile; the lockfile itself stays.
class VaultLockGuard {
public:
    VaultLockGuard(std::filesystem::path lockfile, UniqueFd fd);
    ~VaultLockGuard();
    VaultLockGuard(VaultLockGuard&&) noexcept = default;
    VaultLockGuard& operator=(VaultLockGuard&&) = delete;
    VaultLockGuard(const VaultLockGuard&) = delete;
    VaultLockGuard& operator=(const VaultLockGuard&) = delete;

private:
    std::filesystem::path lockfile_;
    UniqueFd fd_;
};

// Takes the exclusive lock, waiting with a backoff of 10 ms doubling up to 1 s.
// A lock whose holder is gone, or whose record is more than 300 s old, is
// removed (with a notice on standard error) and taken at once. After 30 s of
// waiting on the monotonic clock: LockTimeout. A lockfile that cannot be opened
// or created: an Io error at once.
Result<VaultLockGuard> acquire_vault_lock(const std::filesystem::path& vault_path);

// The shared lock an open holds while it reads the vault file. It waits for as
// long as a save holds the lock; dropping it unlocks. Holders write nothing.
class SharedVaultLock {
public:
    explicit SharedVaultLock(UniqueFd fd) : fd_(std::move(fd)) {}
    ~SharedVaultLock();
    SharedVaultLock(SharedVaultLock&&) noexcept = default;
    SharedVaultLock& operator=(SharedVaultLock&&) = delete;
    SharedVaultLock(const SharedVaultLock&) = delete;
    SharedVaultLock& operator=(const SharedVaultLock&) = delete;

private:
    UniqueFd fd_;
};

// An Io error when the lockfile cannot be opened or created.
Result<SharedVaultLock> acquire_shared_vault_lock(const std::filesystem::path& vault_path);

}  // namespace quillbox
