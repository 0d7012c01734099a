#include "vault/file_identity.hpp"

namespace quillbox {
namespace {

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

WallTime wall_time_of(const timespec& time) {
    return WallTime(std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec));
}

}  // namespace

FileIdentity identify_file(const struct stat& metadata, WallTime now) {
    const WallTime settled_before = now - kTimestampMargin;
    return FileIdentity{
        .device = metadata.st_dev,
        .inode = metadata.st_ino,
        .size = metadata.st_size,
        .modified = metadata.st_mtim,
        .changed = metadata.st_ctim,
        .settled = wall_time_of(metadata.st_mtim) < settled_before &&
                   wall_time_of(metadata.st_ctim) < settled_before,
    };
}

bool unwritten_since(const std::optional<FileIdentity>& recorded, const struct stat& metadata) {
    return recorded && recorded->device == metadata.st_dev && recorded->inode == metadata.st_ino &&
           recorded->size == metadata.st_size && same_time(recorded->modified, metadata.st_mtim);
}

FileMatch match_file(const std::optional<FileIdentity>& recorded, const struct stat& metadata) {
    if (!unwritten_since(recorded, metadata) || !same_time(recorded->changed, metadata.st_ctim)) {
        return FileMatch::Different;
    }
    return recorded->settled ? FileMatch::Same : FileMatch::Unsure;
}

}  // namespace quillbox
