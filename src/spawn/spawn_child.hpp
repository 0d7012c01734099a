#pragma once

#include <sys/types.h>

#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "redact/redactor.hpp"

namespace quillbox {

// The descriptors that a child gets as its standard output and standard
// error: the write ends of the pipes its readers drain.
struct ChildOutputs {
    int stdout_fd;
    int stderr_fd;
};

// Starts argv[0], found along this process's PATH, with the given arguments
// and environment (each string holding its bytes and one final NUL; an
// environment string is "NAME=value"), the host's standard input, and
// standard output and standard error on the given descriptors, which the
// caller closes afterwards. No shell is involved, and nothing of this
// process's own environment reaches the child. The string buffers are wiped
// as soon as the spawn call returns, whether it succeeded or not. Errors name
// the program by its text decoded and redacted, so a program named by a
// secret shows as its label. An empty argv is a fault of the caller and
// throws InternalError.
Result<pid_t> spawn_child(std::vector<SecretBytes> argv, std::vector<SecretBytes> environment,
                          const ChildOutputs& outputs, const Redactor& redactor);

}  // namespace quillbox
