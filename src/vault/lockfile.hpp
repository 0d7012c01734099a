#pragma once

#include <filesystem>
#include <utility>

#include "core/clock.hpp"
#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// Processes that use one vault coordinate through a lockfile next to the vault
// file, locked with flock: exclusively by a save while it replaces the vault
// file, shared by an open while it reads it. Whether a lock is held is the
// kernel's to say, never a process ID: the kernel drops the lock of a process
// that dies, and a process ID means nothing in another PID namespace. The
// exclusive holder writes its process ID and the time into the lockfile, a
// note for people who look at it; no process reads it.
//
// The lockfile may sit in a directory that others can write. It is opened
// without following a symbolic link and without blocking, and used only when
// it is a regular file owned by this user or by root; the record is written
// and emptied through the descriptor that holds the lock. It is never removed.

// The vault path with ".lock" appended to its file name ("vault.lock" when it
// has none).
std::filesystem::path lockfile_path(const std::filesystem::path& vault_path);

// The exclusive lock of one save. Dropping it empties the lockfile, then
// unlocks it; the lockfile itself stays.
class VaultLockGuard {
public:
    explicit VaultLockGuard(UniqueFd fd) : fd_(std::move(fd)) {}
    ~VaultLockGuard();
    VaultLockGuard(VaultLockGuard&&) noexcept = default;
    VaultLockGuard& operator=(VaultLockGuard&&) = delete;
    VaultLockGuard(const VaultLockGuard&) = delete;
    VaultLockGuard& operator=(const VaultLockGuard&) = delete;

private:
    UniqueFd fd_;
};

// Takes the exclusive lock, waiting with a backoff of 10 ms doubling up to 1 s
// for as long as another process holds it, however old its record. After 30 s
// of waiting on the clock's monotonic time: LockTimeout. The record carries
// the clock's wall time. A lockfile that cannot be opened or created: an Io
// error at once, saying that the vault cannot be saved; one that is not a
// regular file of ours or root's: UnsafePath.
Result<VaultLockGuard> acquire_vault_lock(const std::filesystem::path& vault_path,
                                          Clock& clock = real_clock());

// The shared lock an open holds while it reads the vault file; dropping it
// unlocks. Holders write nothing.
class SharedVaultLock {
public:
    // Without a descriptor, no lock is held.
    explicit SharedVaultLock(UniqueFd fd) : fd_(std::move(fd)) {}
    ~SharedVaultLock();
    SharedVaultLock(SharedVaultLock&&) noexcept = default;
    SharedVaultLock& operator=(SharedVaultLock&&) = delete;
    SharedVaultLock(const SharedVaultLock&) = delete;
    SharedVaultLock& operator=(const SharedVaultLock&) = delete;

private:
    UniqueFd fd_;
};

// Waits for a save as the exclusive lock waits for another, up to 30 s.
// Where the lockfile cannot be created or opened for writing (a read-only file
// system), it is opened read-only, and where there is none the read goes ahead
// without a lock: nothing can be saved there to change the file meanwhile.
Result<SharedVaultLock> acquire_shared_vault_lock(const std::filesystem::path& vault_path,
                                                  Clock& clock = real_clock());

}  // namespace quillbox
