#include "spawn/spawn_settings.hpp"

namespace quillbox {

// Every posix_spawn set-up call returns its error number; they all go through here.
Status checked_spawn_call(int error_number) {
    if (error_number != 0) return fail(errors::OsError{error_number});
    return {};
}

Status SpawnFileActions::duplicate(int from, int onto) {
    return checked_spawn_call(posix_spawn_file_actions_adddup2(object(), from, onto));
}

Status SpawnFileActions::close_from(int lowest) {
    return checked_spawn_call(posix_spawn_file_actions_addclosefrom_np(object(), lowest));
}

Status SpawnFileActions::change_directory(int directory_fd) {
    return checked_spawn_call(posix_spawn_file_actions_addfchdir_np(object(), directory_fd));
}

Status SpawnAttributes::set_default_actions(const sigset_t& signals) {
    if (Status set = checked_spawn_call(posix_spawnattr_setsigdefault(object(), &signals)); !set) {
        return set;
    }
    return checked_spawn_call(posix_spawnattr_setflags(object(), POSIX_SPAWN_SETSIGDEF));
}

}  // namespace quillbox
