#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace quillbox {

// The folders that runs make under the memory base for their secret files
// are named "quillbox-<pid>-XXXXXX", after the process that made them, the
// last six characters chosen by mkdtemp.

// The name to hand mkdtemp for a folder of process `pid`.
std::string run_folder_template(pid_t pid);

// The process that made the run folder `name`, or none when `name` is not
// the name of one.
std::optional<pid_t> run_folder_pid(std::string_view name);

// Removes, files wiped (remove_wiping), every run folder in the folder open
// on `base_fd` that a run which ended without cleaning up left behind (one
// killed by SIGKILL): one of this user's whose process no longer exists, and
// whose lock no run holds. A folder whose process lives, in this namespace of
// process IDs or (holding its lock) in another that shares the base, is left
// alone; what cannot be removed stays for a later run.
void sweep_stale_run_folders(int base_fd);

}  // namespace quillbox
