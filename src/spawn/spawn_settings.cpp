#include "spawn/spawn_settings.hpp"

namespace quillbox {
namespace {

// Every posix_spawn set-up call returns its error number; they all go through here.
Status checked(int error_number) {
    if (error_number != 0) return fail(errors::OsError{error_number});
    return {};
}

}  // namespace

SpawnFileActions::SpawnFileActions() : init_error_(posix_spawn_file_actions_init(&actions_)) {}

SpawnFileActions::~SpawnFileActions() {
    if (init_error_ == 0) posix_spawn_file_actions_destroy(&actions_);
}

Status SpawnFileActions::made() const {
    return checked(init_error_);
}

Status SpawnFileActions::duplicate(int from, int onto) {
    return checked(posix_spawn_file_actions_adddup2(&actions_, from, onto));
}

Status SpawnFileActions::close(int fd) {
    return checked(posix_spawn_file_actions_addclose(&actions_, fd));
}

Status SpawnFileActions::close_from(int lowest) {
    return checked(posix_spawn_file_actions_addclosefrom_np(&actions_, lowest));
}

SpawnAttributes::SpawnAttributes() : init_error_(posix_spawnattr_init(&attributes_)) {}

SpawnAttributes::~SpawnAttributes() {
    if (init_error_ == 0) posix_spawnattr_destroy(&attributes_);
}

Status SpawnAttributes::made() const {
    return checked(init_error_);
}

Status SpawnAttributes::set_default_actions(const sigset_t& signals) {
    if (Status set = checked(posix_spawnattr_setsigdefault(&attributes_, &signals)); !set) {
        return set;
    }
    return checked(posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF));
}

}  // namespace quillbox
