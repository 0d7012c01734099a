#include "vault/lockfile.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <thread>

#include "core/warnings.hpp"
#include "vault/file_io.hpp"
#include "vault/lock_record.hpp"
#include "vault/sibling_path.hpp"

namespace quillbox {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstDelay = 10ms;
constexpr std::chrono::milliseconds kLongestDelay = 1s;
constexpr std::uint64_t kGiveUpSecs = 30;
constexpr std::uint64_t kStaleAgeSecs = 300;

Result<UniqueFd> open_lockfile(const std::filesystem::path& lockfile) {
    return open_file(lockfile, O_RDWR | O_CREAT, 0600);
}

// Signal 0 only asks whether the process exists and may be signalled. Values
// that kill would take as a process group (0, or beyond the largest pid) are
// not asked about: they cannot name one live holder, so only the record's age
// can make such a lock stale.
bool holder_is_alive(std::uint32_t pid) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

// Waiting is measured on the monotonic clock, which never goes backwards.
std::uint64_t whole_seconds_since(std::chrono::steady_clock::time_point start) {
    const auto waited = std::chrono::steady_clock::now() - start;
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(waited).count());
}

struct StaleLock {
    std::uint32_t pid;
    std::uint64_t age_secs;
};

// Unreadable, non-UTF-8, short or malformed contents are taken for a live lock.
std::optional<StaleLock> find_stale_lock(const std::filesystem::path& lockfile) {
    Result<UniqueFd> fd = open_file(lockfile, O_RDONLY);
    if (!fd) return std::nullopt;
    Result<std::vector<unsigned char>> bytes = read_to_end(fd->get());
    if (!bytes) return std::nullopt;
    const std::string_view contents(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::optional<LockRecord> record = parse_lock_record(contents);
    if (!record) return std::nullopt;
    const bool alive = holder_is_alive(record->pid);
    const std::uint64_t age = lock_record_age_secs(*record, std::chrono::system_clock::now());
    if (alive && age <= kStaleAgeSecs) return std::nullopt;
    return StaleLock{record->pid, age};
}

// Removes a stale lockfile; true when it is gone. Holders of a lock on the
// removed file keep it on a file that no longer excludes anybody.
bool remove_stale_lockfile(const std::filesystem::path& lockfile, const StaleLock& stale) {
    if (::unlink(lockfile.c_str()) != 0 && errno != ENOENT) return false;
    write_stderr_line("quillbox: stale vault lockfile removed (pid=" + std::to_string(stale.pid) +
                      ", age=" + std::to_string(stale.age_secs) + "s)");
    return true;
}

// The record goes at offset 0 of the freshly opened descriptor. A failure to
// write it is of no consequence: the lock is held all the same.
void write_own_record(int fd) {
    const std::string record = format_lock_record(static_cast<std::uint32_t>(::getpid()),
                                                  std::chrono::system_clock::now());
    (void)write_all(fd, {reinterpret_cast<const unsigned char*>(record.data()), record.size()});
}

}  // namespace

std::filesystem::path lockfile_path(const std::filesystem::path& vault_path) {
    return sibling_path(vault_path, ".lock");
}

VaultLockGuard::VaultLockGuard(std::filesystem::path lockfile, UniqueFd fd)
    : lockfile_(std::move(lockfile)), fd_(std::move(fd)) {}

// The lock is given up before the file is emptied: a process that takes it in
// between may see its fresh record erased, and waiters then read an empty
// lockfile and keep waiting, which is harmless.
VaultLockGuard::~VaultLockGuard() {
    if (!fd_.valid()) return;
    ::flock(fd_.get(), LOCK_UN);
    if (Result<UniqueFd> again = open_file(lockfile_, O_WRONLY)) {
        while (::ftruncate(again->get(), 0) != 0 && errno == EINTR) {
        }
    }
}

Result<VaultLockGuard> acquire_vault_lock(const std::filesystem::path& vault_path) {
    std::filesystem::path lockfile = lockfile_path(vault_path);
    const auto start = std::chrono::steady_clock::now();
    std::chrono::milliseconds delay = kFirstDelay;
    for (;;) {
        Result<UniqueFd> fd = open_lockfile(lockfile);
        if (!fd) return fail(fd.error());
        if (::flock(fd->get(), LOCK_EX | LOCK_NB) == 0) {
            write_own_record(fd->get());
            return VaultLockGuard(std::move(lockfile), std::move(*fd));
        }
        const std::uint64_t waited = whole_seconds_since(start);
        if (waited >= kGiveUpSecs) return fail(errors::LockTimeout{lockfile, waited});
        // A stale lock is taken over at once, without sleeping. One that cannot
        // be removed is waited for like a live one, instead of spinning.
        if (const std::optional<StaleLock> stale = find_stale_lock(lockfile);
            stale && remove_stale_lockfile(lockfile, *stale)) {
            continue;
        }
        std::this_thread::sleep_for(delay);
        delay = std::min(delay * 2, kLongestDelay);
    }
}

SharedVaultLock::~SharedVaultLock() {
    if (fd_.valid()) ::flock(fd_.get(), LOCK_UN);
}

Result<SharedVaultLock> acquire_shared_vault_lock(const std::filesystem::path& vault_path) {
    Result<UniqueFd> fd = open_lockfile(lockfile_path(vault_path));
    if (!fd) return fail(fd.error());
    // Blocks while a save holds the lock. The read goes ahead whatever the
    // outcome; only an interrupted wait is repeated.
    while (::flock(fd->get(), LOCK_SH) != 0 && errno == EINTR) {
    }
    return SharedVaultLock(std::move(*fd));
}

}  // namespace quillbox
