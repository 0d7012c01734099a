#pragma once

#include <cstdint>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// The kernel's Landlock interface, as far as quillbox uses it: a ruleset of
// file hierarchies and what may be done beneath each, enforced on a thread and
// on every process that thread starts afterwards. Landlock needs no privilege,
// and a domain, once entered, can only be narrowed, never left.

// What may be done to files and directories beneath a rule's path.
using FileAccess = std::uint64_t;

namespace file_access {
inline constexpr FileAccess kExecute = 1ULL << 0;
inline constexpr FileAccess kWriteFile = 1ULL << 1;
inline constexpr FileAccess kReadFile = 1ULL << 2;
inline constexpr FileAccess kReadDir = 1ULL << 3;
inline constexpr FileAccess kRemoveDir = 1ULL << 4;
inline constexpr FileAccess kRemoveFile = 1ULL << 5;
inline constexpr FileAccess kMakeChar = 1ULL << 6;
inline constexpr FileAccess kMakeDir = 1ULL << 7;
inline constexpr FileAccess kMakeReg = 1ULL << 8;
inline constexpr FileAccess kMakeSock = 1ULL << 9;
inline constexpr FileAccess kMakeFifo = 1ULL << 10;
inline constexpr FileAccess kMakeBlock = 1ULL << 11;
inline constexpr FileAccess kMakeSym = 1ULL << 12;
// Renaming or linking a file into another directory (ABI 2).
inline constexpr FileAccess kRefer = 1ULL << 13;
// Truncating a file through its path or a descriptor opened here (ABI 3).
inline constexpr FileAccess kTruncate = 1ULL << 14;
// ioctl on a device file opened here (ABI 5).
inline constexpr FileAccess kIoctlDevice = 1ULL << 15;

inline constexpr FileAccess kReadAndExecute = kExecute | kReadFile | kReadDir;
inline constexpr FileAccess kEverything = (1ULL << 16) - 1;
}  // namespace file_access

// The oldest interface that can keep a file whole: before version 3 the kernel
// lets any process truncate any file it may write, whatever its ruleset says.
inline constexpr int kOldestUsableLandlock = 3;

// The version of the kernel's Landlock interface, or a SandboxUnavailable
// error saying why there is none that quillbox can use.
Result<int> usable_landlock_version();

// A ruleset being filled in: everything the kernel's version can restrict is
// denied unless a rule allows it. The network stays open; signals and abstract
// Unix sockets reach only processes inside the same sandbox, where the kernel
// can confine them (version 6 on).
class LandlockRuleset {
public:
    static Result<LandlockRuleset> create();

    // Allows `access` beneath the file or directory that `path_fd` (best opened
    // with O_PATH) refers to; the rights the kernel does not know are dropped,
    // as are those that mean nothing for a file that is not a directory.
    Status allow(int path_fd, FileAccess access, bool is_directory);

    // Confines the calling thread, and every process it starts from now on, to
    // the ruleset: sets no_new_privs on the thread (so that no set-user-ID
    // program can widen what it may do) and enters the domain. It cannot be
    // undone; call it on a thread made for the purpose.
    Status confine_calling_thread() const;

private:
    LandlockRuleset(UniqueFd fd, FileAccess handled) : fd_(std::move(fd)), handled_(handled) {}

    UniqueFd fd_;
    FileAccess handled_;
};

}  // namespace quillbox
