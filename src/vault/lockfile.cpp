#include "vault/lockfile.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "core/message_format.hpp"
#include "vault/checked_open.hpp"
#include "vault/lock_record.hpp"
#include "vault/sibling_path.hpp"

namespace quillbox {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kWaitLimit = 30s;
constexpr std::chrono::milliseconds kFirstDelay = 10ms;
constexpr std::chrono::milliseconds kLongestDelay = 1s;

enum class LockKind { Exclusive, Shared };

int flock_operation(LockKind kind) {
    return kind == LockKind::Exclusive ? LOCK_EX : LOCK_SH;
}

// The lockfile for one kind of lock, close-on-exec like every descriptor of
// the store: no program that another thread starts meanwhile keeps the lock
// after this process has ended. Nothing, for a shared lock, where there is no
// lockfile and none can be made.
Result<std::optional<UniqueFd>> open_lockfile(const std::filesystem::path& lockfile,
                                              LockKind kind) {
    Result<CheckedFile> writable =
        open_checked_file(lockfile, O_RDWR | O_CREAT | O_NOFOLLOW, 0600, FileRole::Lockfile);
    if (writable) return std::optional(std::move(writable->fd));
    if (writable.error().kind() != ErrorKind::OsError) return fail(writable.error());
    if (kind == LockKind::Exclusive) {
        return fail(std::move(writable.error())
                        .in_circumstance("the vault cannot be saved without its lockfile " +
                                         quoted_path(lockfile)));
    }
    if (!writable.error().is_os_error({EROFS, EACCES, EPERM})) return fail(writable.error());
    Result<CheckedFile> readable =
        open_checked_file(lockfile, O_RDONLY | O_NOFOLLOW, 0, FileRole::Lockfile);
    if (readable) return std::optional(std::move(readable->fd));
    if (readable.error().is_os_error({ENOENT})) return std::optional<UniqueFd>();
    return fail(readable.error());
}

// Replaces whatever the lockfile holds by our record. A failure is of no
// consequence: the lock is held all the same.
void write_own_record(int fd, WallTime now) {
    const std::string record = format_lock_record(static_cast<std::uint32_t>(::getpid()), now);
    if (::ftruncate(fd, 0) != 0) return;
    (void)::pwrite(fd, record.data(), record.size(), 0);
}

// Takes the lock without blocking, waiting between attempts with a growing
// delay. Whether the lock is held is the kernel's to say: a holder keeps it
// for as long as its descriptor is open, and loses it when it dies, whoever
// it is and whatever its record says. A held lockfile is therefore never
// removed; only its release, or its holder's end, lets a waiter in. Each
// attempt opens the lockfile anew, so that one removed by hand is made again.
// A wait that ends early (a signal) only brings the next attempt forward.
Result<std::optional<UniqueFd>> wait_for_lock(const std::filesystem::path& lockfile, LockKind kind,
                                              Clock& clock) {
    const MonotonicTime start = clock.now();
    const MonotonicTime give_up = start + kWaitLimit;
    std::chrono::milliseconds delay = kFirstDelay;
    for (;;) {
        Result<std::optional<UniqueFd>> fd = open_lockfile(lockfile, kind);
        if (!fd || !*fd) return fd;
        if (::flock((*fd)->get(), flock_operation(kind) | LOCK_NB) == 0) return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) return fail(CoreError::from_errno());
        const MonotonicTime now = clock.now();
        if (now >= give_up) {
            const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - start);
            return fail(errors::LockTimeout{lockfile, static_cast<std::uint64_t>(waited.count())});
        }
        clock.wait_until(std::min(now + delay, give_up));
        delay = std::min(delay * 2, kLongestDelay);
    }
}

}  // namespace

std::filesystem::path lockfile_path(const std::filesystem::path& vault_path) {
    return sibling_path(vault_path, ".lock");
}

// The record is emptied while the lock is still held, through the descriptor
// that holds it: whatever now sits at the lockfile's path is not touched.
VaultLockGuard::~VaultLockGuard() {
    if (!fd_.valid()) return;
    while (::ftruncate(fd_.get(), 0) != 0 && errno == EINTR) {
    }
    ::flock(fd_.get(), LOCK_UN);
}

Result<VaultLockGuard> acquire_vault_lock(const std::filesystem::path& vault_path, Clock& clock) {
    Result<std::optional<UniqueFd>> fd =
        wait_for_lock(lockfile_path(vault_path), LockKind::Exclusive, clock);
    if (!fd) return fail(fd.error());
    write_own_record((*fd)->get(), clock.wall_now());
    return VaultLockGuard(std::move(**fd));
}

SharedVaultLock::~SharedVaultLock() {
    if (fd_.valid()) ::flock(fd_.get(), LOCK_UN);
}

Result<SharedVaultLock> acquire_shared_vault_lock(const std::filesystem::path& vault_path,
                                                  Clock& clock) {
    Result<std::optional<UniqueFd>> fd =
        wait_for_lock(lockfile_path(vault_path), LockKind::Shared, clock);
    if (!fd) return fail(fd.error());
    return SharedVaultLock(*fd ? std::move(**fd) : UniqueFd());
}

}  // namespace quillbox
