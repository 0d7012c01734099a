#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <optional>

#include "core/clock.hpp"

namespace quillbox {

// What stat tells of the vault file as a state last read or wrote it. A save
// replaces the file by a rename, so another process's save shows as another
// inode; inode numbers are reused, though, and a file system stamps times from
// a clock that moves in ticks (up to two seconds on some), so a file written
// within the tick of the one recorded may show the same size and times.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
    // Whether both times were older than kTimestampMargin when the file was
    // seen: no later write can carry them then.
    bool settled;
};

// How far the file's times must lie in the past before they tell writes apart.
inline constexpr std::chrono::seconds kTimestampMargin{3};

FileIdentity identify_file(const struct stat& metadata, WallTime now);

enum class FileMatch {
    // The file recorded, with settled times: nothing was written since.
    Same,
    // The same in every field, but too recent to rule out a write within the
    // same tick: the commit tag tells.
    Unsure,
    // Another file, or the same one written or changed since; or nothing was recorded.
    Different,
};

FileMatch match_file(const std::optional<FileIdentity>& recorded, const struct stat& metadata);

// Whether the file holds the bytes recorded, by all that a write would move:
// the same inode, size and modification time. Only its change time may
// differ (a chmod, a chown, another link).
bool unwritten_since(const std::optional<FileIdentity>& recorded, const struct stat& metadata);

}  // namespace quillbox
