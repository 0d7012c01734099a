#pragma once

#include <sys/types.h>

#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "redact/redactor.hpp"
#include "sandbox/landlock.hpp"

namespace quillbox {

// What becomes of the host's other descriptors in a child.
enum class HostDescriptors {
    // Every one that is not close-on-exec stays open, as in a child that the
    // host started itself.
    Inherited,
    // All are closed: the child holds its standard streams, nothing else.
    Closed,
};

// The descriptors that a child gets as its standard streams: the write ends
// of the pipes its readers drain, and the read end of the pipe its input is
// fed into, or none to leave it the host's standard input.
struct ChildStreams {
    static constexpr int kHostInput = -1;

    int stdout_fd;
    int stderr_fd;
    int stdin_fd = kHostInput;
    HostDescriptors host_descriptors = HostDescriptors::Inherited;
};

// Where the child starts and what it may reach.
struct ChildPlace {
    static constexpr int kHostDirectory = -1;

    // A descriptor open on the folder the child starts in, or none to start it
    // in the host's working directory.
    int working_directory_fd = kHostDirectory;
    // The sandbox the child starts in, for good, or none.
    const LandlockRuleset* sandbox = nullptr;
};

// Starts argv[0], found along this process's PATH, with the given arguments
// and environment (each string holding its bytes and one final NUL; an
// environment string is "NAME=value"), and its standard streams on the given
// descriptors, which the caller closes afterwards, in the given place. No shell
// is involved, and nothing of this process's own environment reaches the child. The string buffers
// are wiped as soon as the spawn call returns, whether it succeeded or not. Errors name the program
// by its text decoded and redacted, so a program named by a secret shows as its label. Should any
// setting of the spawn fail to be made, no child starts: the error is an OsError. An empty argv is
// a fault of the caller and throws InternalError.
Result<pid_t> spawn_child(std::vector<SecretBytes> argv, std::vector<SecretBytes> environment,
                          const ChildStreams& streams, const Redactor& redactor,
                          const ChildPlace& place = {});

}  // namespace quillbox
