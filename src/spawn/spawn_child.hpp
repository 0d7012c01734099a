#pragma once

#include <sys/types.h>

#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/unique_fd.hpp"
#include "redact/redactor.hpp"

namespace quillbox {

// A started child: its process id and the parent's ends of the pipes that
// carry its standard output and standard error.
struct SpawnedChild {
    pid_t pid;
    UniqueFd stdout_read;
    UniqueFd stderr_read;
};

// Starts argv[0], found along this process's PATH, with the given arguments
// (each holding its bytes and one final NUL), an empty environment, the host's
// standard input, and standard output and standard error on two pipes. No
// shell is involved. The argument buffers are wiped as soon as the spawn call
// returns, whether it succeeded or not. Errors name the program by its text
// decoded and redacted, so a program named by a secret shows as its label.
// An empty argv is a fault of the caller and throws InternalError.
Result<SpawnedChild> spawn_child(std::vector<SecretBytes> argv, const Redactor& redactor);

}  // namespace quillbox
