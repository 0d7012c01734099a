#include "faults/call_failure.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <type_traits>

namespace quillbox::testing {
namespace {

constexpr std::array<std::string_view, kSystemCallCount> kCallNames = {
    "open",
    "read",
    "pread",
    "write",
    "pwrite",
    "fsync",
    "ftruncate",
    "rename",
    "unlink",
    "flock",
    "stat",
    "lstat",
    "fstat",
    "mkdir",
    "chmod",
    "fchmod",
    "getentropy",
    "mlock",
    "openat",
    "fstatat",
    "unlinkat",
    "fchmodat",
    "mkdtemp",
    "mmap",
    "pipe2",
    "posix_spawn_file_actions_init",
    "posix_spawn_file_actions_adddup2",
    "posix_spawn_file_actions_addclosefrom_np",
    "posix_spawnattr_init",
    "posix_spawnattr_setflags",
    "posix_spawnattr_setsigdefault",
    "posix_spawnp",
    "fcntl",
};

SystemCalls calls_from(SystemCall first, SystemCall last) {
    SystemCalls calls;
    for (auto call = static_cast<std::size_t>(first); call <= static_cast<std::size_t>(last);
         ++call) {
        calls.set(call);
    }
    return calls;
}

// The one injection in force. The executor's threads may make calls too.
struct Injection {
    std::atomic<bool> armed = false;
    SystemCalls calls;
    std::uint64_t target = 0;
    int error_number = 0;
    std::atomic<std::uint64_t> seen = 0;
    std::atomic<int> failed = -1;
};

Injection& injection() {
    static Injection instance;
    return instance;
}

// The error number to fail this call with, or 0 to let it through.
int injected(SystemCall call) {
    Injection& current = injection();
    if (!current.armed.load() || !current.calls.test(static_cast<std::size_t>(call))) return 0;
    if (current.seen.fetch_add(1) + 1 != current.target) return 0;
    current.failed.store(static_cast<int>(call));
    return current.error_number;
}

// A call that reports failure as `failure` with errno set.
template <typename Real, typename... Args>
auto failing_as(SystemCall call, std::invoke_result_t<Real, Args...> failure, Real real,
                Args... args) {
    if (const int error_number = injected(call); error_number != 0) {
        errno = error_number;
        return failure;
    }
    return real(args...);
}

// A call that reports failure as -1 with errno set.
template <typename Real, typename... Args>
auto failing_with_errno(SystemCall call, Real real, Args... args) {
    using Returned = std::invoke_result_t<Real, Args...>;
    return failing_as(call, static_cast<Returned>(-1), real, args...);
}

// A call that returns its error number.
template <typename Real, typename... Args>
int failing_with_result(SystemCall call, Real real, Args... args) {
    if (const int error_number = injected(call); error_number != 0) return error_number;
    return real(args...);
}

}  // namespace

std::string_view call_name(SystemCall call) {
    return kCallNames.at(static_cast<std::size_t>(call));
}

bool writes_to_storage(SystemCall call) {
    return call == SystemCall::Write || call == SystemCall::Pwrite || call == SystemCall::Fsync ||
           call == SystemCall::Ftruncate;
}

SystemCalls calls_of(std::initializer_list<SystemCall> calls) {
    SystemCalls set;
    for (const SystemCall call : calls) set.set(static_cast<std::size_t>(call));
    return set;
}

SystemCalls store_calls() {
    return calls_from(SystemCall::Open, SystemCall::Mlock);
}

SystemCalls secret_file_folder_calls() {
    return calls_of({SystemCall::Open, SystemCall::Pwrite, SystemCall::Flock, SystemCall::Fstat,
                     SystemCall::Fchmod, SystemCall::Mlock}) |
           calls_from(SystemCall::Openat, SystemCall::Mmap);
}

SystemCalls spawn_set_up_calls() {
    return calls_from(SystemCall::Pipe2, SystemCall::Spawn);
}

FailNthCall::FailNthCall(SystemCalls calls, std::uint64_t n, int error_number) {
    Injection& current = injection();
    if (current.armed.load()) throw std::logic_error("FailNthCall: one is in force already");
    current.calls = calls;
    current.target = n;
    current.error_number = error_number;
    current.seen.store(0);
    current.failed.store(-1);
    current.armed.store(true);
}

FailNthCall::~FailNthCall() {
    injection().armed.store(false);
}

std::uint64_t FailNthCall::calls_seen() const {
    return injection().seen.load();
}

std::optional<SystemCall> FailNthCall::failed_call() const {
    const int failed = injection().failed.load();
    if (failed < 0) return std::nullopt;
    return static_cast<SystemCall>(failed);
}

}  // namespace quillbox::testing

using quillbox::testing::failing_as;
using quillbox::testing::failing_with_errno;
using quillbox::testing::failing_with_result;
using quillbox::testing::SystemCall;

extern "C" {

int __real_open(const char* path, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_pread(int fd, void* buffer, size_t count, off_t offset);
ssize_t __real_write(int fd, const void* buffer, size_t count);
ssize_t __real_pwrite(int fd, const void* buffer, size_t count, off_t offset);
int __real_fsync(int fd);
int __real_ftruncate(int fd, off_t length);
int __real_rename(const char* from, const char* to);
int __real_unlink(const char* path);
int __real_flock(int fd, int operation);
int __real_stat(const char* path, struct stat* metadata);
int __real_lstat(const char* path, struct stat* metadata);
int __real_fstat(int fd, struct stat* metadata);
int __real_mkdir(const char* path, mode_t mode);
int __real_chmod(const char* path, mode_t mode);
int __real_fchmod(int fd, mode_t mode);
int __real_getentropy(void* buffer, size_t length);
int __real_mlock(const void* address, size_t length);
int __real_openat(int folder, const char* path, int flags, ...);
int __real_fstatat(int folder, const char* path, struct stat* metadata, int flags);
int __real_unlinkat(int folder, const char* path, int flags);
int __real_fchmodat(int folder, const char* path, mode_t mode, int flags);
char* __real_mkdtemp(char* name);
void* __real_mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset);
int __real_pipe2(int* fds, int flags);
int __real_posix_spawn_file_actions_init(posix_spawn_file_actions_t* actions);
int __real_posix_spawn_file_actions_adddup2(posix_spawn_file_actions_t* actions, int fd, int to);
int __real_posix_spawn_file_actions_addclosefrom_np(posix_spawn_file_actions_t* actions, int from);
int __real_posix_spawnattr_init(posix_spawnattr_t* attributes);
int __real_posix_spawnattr_setflags(posix_spawnattr_t* attributes, short flags);
int __real_posix_spawnattr_setsigdefault(posix_spawnattr_t* attributes, const sigset_t* signals);
int __real_posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const argv[],
                        char* const envp[]);
int __real_fcntl(int fd, int command, ...);

// The mode is there only when the flags create a file.
static bool creates_a_file(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}
int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (creates_a_file(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return failing_with_errno(SystemCall::Open, __real_open, path, flags, mode);
}
int __wrap_openat(int folder, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (creates_a_file(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return failing_with_errno(SystemCall::Openat, __real_openat, folder, path, flags, mode);
}
ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    return failing_with_errno(SystemCall::Read, __real_read, fd, buffer, count);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t count, off_t offset) {
    return failing_with_errno(SystemCall::Pread, __real_pread, fd, buffer, count, offset);
}
ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
    return failing_with_errno(SystemCall::Write, __real_write, fd, buffer, count);
}
ssize_t __wrap_pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    return failing_with_errno(SystemCall::Pwrite, __real_pwrite, fd, buffer, count, offset);
}
int __wrap_fsync(int fd) {
    return failing_with_errno(SystemCall::Fsync, __real_fsync, fd);
}
int __wrap_ftruncate(int fd, off_t length) {
    return failing_with_errno(SystemCall::Ftruncate, __real_ftruncate, fd, length);
}
int __wrap_rename(const char* from, const char* to) {
    return failing_with_errno(SystemCall::Rename, __real_rename, from, to);
}
int __wrap_unlink(const char* path) {
    return failing_with_errno(SystemCall::Unlink, __real_unlink, path);
}
int __wrap_flock(int fd, int operation) {
    return failing_with_errno(SystemCall::Flock, __real_flock, fd, operation);
}
int __wrap_stat(const char* path, struct stat* metadata) {
    return failing_with_errno(SystemCall::Stat, __real_stat, path, metadata);
}
int __wrap_lstat(const char* path, struct stat* metadata) {
    return failing_with_errno(SystemCall::Lstat, __real_lstat, path, metadata);
}
int __wrap_fstat(int fd, struct stat* metadata) {
    return failing_with_errno(SystemCall::Fstat, __real_fstat, fd, metadata);
}
int __wrap_mkdir(const char* path, mode_t mode) {
    return failing_with_errno(SystemCall::Mkdir, __real_mkdir, path, mode);
}
int __wrap_chmod(const char* path, mode_t mode) {
    return failing_with_errno(SystemCall::Chmod, __real_chmod, path, mode);
}
int __wrap_fchmod(int fd, mode_t mode) {
    return failing_with_errno(SystemCall::Fchmod, __real_fchmod, fd, mode);
}
int __wrap_getentropy(void* buffer, size_t length) {
    return failing_with_errno(SystemCall::Getentropy, __real_getentropy, buffer, length);
}
int __wrap_mlock(const void* address, size_t length) {
    return failing_with_errno(SystemCall::Mlock, __real_mlock, address, length);
}
int __wrap_fstatat(int folder, const char* path, struct stat* metadata, int flags) {
    return failing_with_errno(SystemCall::Fstatat, __real_fstatat, folder, path, metadata, flags);
}
int __wrap_unlinkat(int folder, const char* path, int flags) {
    return failing_with_errno(SystemCall::Unlinkat, __real_unlinkat, folder, path, flags);
}
int __wrap_fchmodat(int folder, const char* path, mode_t mode, int flags) {
    return failing_with_errno(SystemCall::Fchmodat, __real_fchmodat, folder, path, mode, flags);
}
char* __wrap_mkdtemp(char* name) {
    return failing_as(SystemCall::Mkdtemp, static_cast<char*>(nullptr), __real_mkdtemp, name);
}
void* __wrap_mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    return failing_as(SystemCall::Mmap, MAP_FAILED, __real_mmap, address, length, protection, flags,
                      fd, offset);
}
int __wrap_pipe2(int* fds, int flags) {
    return failing_with_errno(SystemCall::Pipe2, __real_pipe2, fds, flags);
}
int __wrap_posix_spawn_file_actions_init(posix_spawn_file_actions_t* actions) {
    return failing_with_result(SystemCall::SpawnFileActionsInit,
                               __real_posix_spawn_file_actions_init, actions);
}
int __wrap_posix_spawn_file_actions_adddup2(posix_spawn_file_actions_t* actions, int fd, int to) {
    return failing_with_result(SystemCall::SpawnFileActionsAddDup2,
                               __real_posix_spawn_file_actions_adddup2, actions, fd, to);
}
int __wrap_posix_spawn_file_actions_addclosefrom_np(posix_spawn_file_actions_t* actions, int from) {
    return failing_with_result(SystemCall::SpawnFileActionsAddCloseFrom,
                               __real_posix_spawn_file_actions_addclosefrom_np, actions, from);
}
int __wrap_posix_spawnattr_init(posix_spawnattr_t* attributes) {
    return failing_with_result(SystemCall::SpawnAttributesInit, __real_posix_spawnattr_init,
                               attributes);
}
int __wrap_posix_spawnattr_setflags(posix_spawnattr_t* attributes, short flags) {
    return failing_with_result(SystemCall::SpawnAttributesSetFlags, __real_posix_spawnattr_setflags,
                               attributes, flags);
}
int __wrap_posix_spawnattr_setsigdefault(posix_spawnattr_t* attributes, const sigset_t* signals) {
    return failing_with_result(SystemCall::SpawnAttributesSetSigDefault,
                               __real_posix_spawnattr_setsigdefault, attributes, signals);
}
int __wrap_posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const argv[],
                        char* const envp[]) {
    return failing_with_result(SystemCall::Spawn, __real_posix_spawnp, pid, file, actions,
                               attributes, argv, envp);
}
// The layers pass fcntl an int or nothing; an int is read as a long would be.
int __wrap_fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const long argument = va_arg(arguments, long);
    va_end(arguments);
    return failing_with_errno(SystemCall::Fcntl, __real_fcntl, fd, command, argument);
}

}  // extern "C"
