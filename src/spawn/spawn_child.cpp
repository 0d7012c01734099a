#include "spawn/spawn_child.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "core/internal_error.hpp"
#include "core/message_format.hpp"
#include "spawn/confined_thread.hpp"
#include "spawn/spawn_settings.hpp"
#include "spawn/zeroizing_cstring.hpp"

namespace quillbox {
namespace {

// The program as messages name it: argument 0 without its final NUL, redacted
// and decoded. Secrets are matched in the raw bytes, before invalid sequences
// become U+FFFD, so that a secret which is not valid UTF-8 is found as well.
std::string program_text(const SecretBytes& program, const Redactor& redactor) {
    std::string_view bytes = program.view();
    if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
    return redactor.redact(bytes);
}

// Every string must hold exactly one NUL, as its last byte; anything else
// cannot be handed to a program unchanged.
Result<std::vector<ZeroizingCString>> to_c_strings(const std::vector<SecretBytes>& buffers,
                                                   std::string_view what,
                                                   const std::string& program) {
    std::vector<ZeroizingCString> strings;
    strings.reserve(buffers.size());
    for (const SecretBytes& buffer : buffers) {
        const std::string_view bytes = buffer.view();
        const std::size_t first_nul = bytes.find('\0');
        if (first_nul == std::string_view::npos || first_nul + 1 != bytes.size()) {
            return fail(errors::SpawnFailed{
                program, std::string(what) + " element contains interior NUL byte"});
        }
        strings.emplace_back(bytes.substr(0, first_nul));
    }
    return strings;
}

// The pointers that posix_spawnp takes, ending in a null pointer; it takes
// char* const[] but only reads the strings.
std::vector<char*> pointers_to(const std::vector<ZeroizingCString>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const ZeroizingCString& string : strings) {
        pointers.push_back(const_cast<char*>(string.as_ptr()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

CoreError spawn_error(int error_number, const std::string& program) {
    switch (error_number) {
        case ENOENT: return errors::CommandNotFound{program};
        case ENOEXEC:
        case EACCES: return errors::CommandNotExecutable{program};
        default: return errors::SpawnFailed{program, os_error_text(error_number)};
    }
}

// Numbers below this are the standard streams, which the child always gets.
constexpr int kFirstOtherDescriptor = 3;

// The child's standard streams on the given descriptors, then the host's
// other descriptors closed if asked: every one from 3 up, whether it looks
// open now or not, so that a descriptor that another thread opens meanwhile
// is closed too.
Status set_up_descriptors(SpawnFileActions& actions, const ChildStreams& streams) {
    // Without a pipe of its own, the child reads the host's standard input.
    // Every descriptor of the run is close-on-exec, the ones given here
    // included; their copies as 0, 1 and 2 are not.
    if (streams.stdin_fd != ChildStreams::kHostInput) {
        if (Status set = actions.duplicate(streams.stdin_fd, STDIN_FILENO); !set) return set;
    }
    if (Status set = actions.duplicate(streams.stdout_fd, STDOUT_FILENO); !set) return set;
    if (Status set = actions.duplicate(streams.stderr_fd, STDERR_FILENO); !set) return set;
    if (streams.host_descriptors == HostDescriptors::Inherited) return {};
    return actions.close_from(kFirstOtherDescriptor);
}

// A signal the host ignores stays ignored across exec. Hosts such as the
// Python interpreter ignore SIGPIPE and SIGXFSZ; the child starts with their
// defaults, so that a reader that goes away ends it as in a shell pipeline
// instead of leaving it to meet failed writes.
Status set_up_signals(SpawnAttributes& attributes) {
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    return attributes.set_default_actions(defaults);
}

// The spawn call itself, with its settings released as soon as it returns.
// A setting that cannot be made fails the run before any child exists.
Result<pid_t> start_program(const std::vector<char*>& arguments,
                            const std::vector<char*>& environment, const ChildStreams& streams,
                            const ChildPlace& place, const std::string& program) {
    SpawnFileActions actions;
    SpawnAttributes attributes;
    Status set = actions.made();
    if (set) set = attributes.made();
    // The folder first: its descriptor is among those the host's closing ends.
    if (set && place.working_directory_fd != ChildPlace::kHostDirectory) {
        set = actions.change_directory(place.working_directory_fd);
    }
    if (set) set = set_up_descriptors(actions, streams);
    if (set) set = set_up_signals(attributes);
    if (!set) {
        return fail(std::move(set.error()).in_circumstance("setting up the start of " + program));
    }

    // No variable of this process, the master passphrase's included, reaches
    // the child: it gets the given environment alone.
    const auto spawn = [&]() -> Result<pid_t> {
        pid_t pid = 0;
        const int spawn_result =
            ::posix_spawnp(&pid, arguments.front(), actions.get(), attributes.get(),
                           arguments.data(), environment.data());
        if (spawn_result != 0) return fail(spawn_error(spawn_result, program));
        return pid;
    };
    if (place.sandbox == nullptr) return spawn();
    return on_confined_thread(*place.sandbox, spawn);
}

}  // namespace

Result<pid_t> spawn_child(std::vector<SecretBytes> argv, std::vector<SecretBytes> environment,
                          const ChildStreams& streams, const Redactor& redactor,
                          const ChildPlace& place) {
    if (argv.empty()) throw InternalError("spawn_child: argv must not be empty", "src/spawn");
    const std::string program = program_text(argv.front(), redactor);

    auto arguments = to_c_strings(argv, "argv", program);
    if (!arguments) return fail(arguments.error());
    auto variables = to_c_strings(environment, "environment", program);
    if (!variables) return fail(variables.error());
    std::vector<char*> argument_pointers = pointers_to(*arguments);
    std::vector<char*> variable_pointers = pointers_to(*variables);

    const Result<pid_t> started =
        start_program(argument_pointers, variable_pointers, streams, place, program);
    // The secret-bearing buffers go first, before anything is waited for.
    argument_pointers.clear();
    variable_pointers.clear();
    arguments->clear();
    variables->clear();
    argv.clear();
    environment.clear();
    return started;
}

}  // namespace quillbox
