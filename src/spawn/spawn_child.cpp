#include "spawn/spawn_child.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "core/internal_error.hpp"
#include "core/message_format.hpp"
#include "spawn/zeroizing_cstring.hpp"

namespace quillbox {
namespace {

struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

// Owns one of the objects that posix_spawnp reads its settings from.
template <typename Object, int (*init)(Object*), int (*destroy)(Object*)>
class SpawnSetting {
public:
    SpawnSetting() : init_error_(init(&object_)) {}
    ~SpawnSetting() {
        if (init_error_ == 0) destroy(&object_);
    }
    SpawnSetting(const SpawnSetting&) = delete;
    SpawnSetting& operator=(const SpawnSetting&) = delete;

    int init_error() const { return init_error_; }
    Object* get() { return &object_; }

private:
    Object object_;
    int init_error_;
};

using FileActions = SpawnSetting<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                 posix_spawn_file_actions_destroy>;
using SpawnAttributes =
    SpawnSetting<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

// The program as messages name it: argument 0 without its final NUL, redacted
// and decoded. Secrets are matched in the raw bytes, before invalid sequences
// become U+FFFD, so that a secret which is not valid UTF-8 is found as well.
std::string program_text(const SecretBytes& program, const Redactor& redactor) {
    std::string_view bytes = program.view();
    if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
    return redactor.redact(bytes);
}

// Every argument must hold exactly one NUL, as its last byte; anything else
// cannot be handed to a program unchanged.
Result<std::vector<ZeroizingCString>> to_c_strings(const std::vector<SecretBytes>& argv,
                                                   const std::string& program) {
    std::vector<ZeroizingCString> strings;
    strings.reserve(argv.size());
    for (const SecretBytes& argument : argv) {
        const std::string_view bytes = argument.view();
        const std::size_t first_nul = bytes.find('\0');
        if (first_nul == std::string_view::npos || first_nul + 1 != bytes.size()) {
            return fail(errors::SpawnFailed{program, "argv element contains interior NUL byte"});
        }
        strings.emplace_back(bytes.substr(0, first_nul));
    }
    return strings;
}

// A host that runs with descriptor 1 or 2 closed hands those numbers to new
// pipes. The child's redirections would then overwrite or close them, so every
// pipe end is kept above the standard descriptors.
Status lift_above_standard_descriptors(UniqueFd& fd) {
    if (fd.get() > STDERR_FILENO) return {};
    const int lifted = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (lifted < 0) return fail(CoreError::from_errno());
    fd.reset(lifted);
    return {};
}

Result<Pipe> make_pipe() {
    // Close-on-exec from the start: a child that another thread starts in the
    // meantime must not inherit a write end, or it would hold this run's
    // reader open for as long as it lives.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return fail(CoreError::from_errno());
    Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    if (auto lifted = lift_above_standard_descriptors(pipe.read_end); !lifted) {
        return fail(lifted.error());
    }
    if (auto lifted = lift_above_standard_descriptors(pipe.write_end); !lifted) {
        return fail(lifted.error());
    }
    return pipe;
}

CoreError spawn_error(int error_number, const std::string& program) {
    switch (error_number) {
        case ENOENT: return errors::CommandNotFound{program};
        case ENOEXEC:
        case EACCES: return errors::CommandNotExecutable{program};
        default: return errors::SpawnFailed{program, os_error_text(error_number)};
    }
}

// The spawn call itself, with its settings released as soon as it returns.
Result<pid_t> start_program(const std::vector<char*>& arguments, const Pipe& output,
                            const Pipe& error, const std::string& program) {
    FileActions actions;
    if (actions.init_error() != 0) return fail(errors::OsError{actions.init_error()});
    SpawnAttributes attributes;
    if (attributes.init_error() != 0) return fail(errors::OsError{attributes.init_error()});

    // Standard input is left alone: the child reads the host's.
    posix_spawn_file_actions_addclose(actions.get(), output.read_end.get());
    posix_spawn_file_actions_addclose(actions.get(), error.read_end.get());
    posix_spawn_file_actions_adddup2(actions.get(), output.write_end.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), error.write_end.get(), STDERR_FILENO);
    posix_spawn_file_actions_addclose(actions.get(), output.write_end.get());
    posix_spawn_file_actions_addclose(actions.get(), error.write_end.get());

    // No variable of this process, the master passphrase's included, reaches the child.
    char* const empty_environment[] = {nullptr};
    pid_t pid = 0;
    const int spawn_result = ::posix_spawnp(&pid, arguments.front(), actions.get(),
                                            attributes.get(), arguments.data(), empty_environment);
    if (spawn_result != 0) return fail(spawn_error(spawn_result, program));
    return pid;
}

}  // namespace

Result<SpawnedChild> spawn_child(std::vector<SecretBytes> argv, const Redactor& redactor) {
    if (argv.empty()) throw InternalError("spawn_child: argv must not be empty", "src/spawn");
    const std::string program = program_text(argv.front(), redactor);

    auto strings = to_c_strings(argv, program);
    if (!strings) return fail(strings.error());
    std::vector<char*> arguments;
    arguments.reserve(strings->size() + 1);
    for (const ZeroizingCString& string : *strings) {
        // posix_spawnp takes char* const[] but only reads the strings.
        arguments.push_back(const_cast<char*>(string.as_ptr()));
    }
    arguments.push_back(nullptr);

    auto output = make_pipe();
    if (!output) return fail(output.error());
    auto error = make_pipe();
    if (!error) return fail(error.error());

    const Result<pid_t> started = start_program(arguments, *output, *error, program);
    // The secret-bearing buffers go first, before anything is waited for.
    arguments.clear();
    strings->clear();
    argv.clear();
    if (!started) return fail(started.error());

    // The readers see end of file once the child and its descendants have
    // closed their copies; the parent's must not keep the pipes open.
    output->write_end.reset();
    error->write_end.reset();
    return SpawnedChild{*started, std::move(output->read_end), std::move(error->read_end)};
}

}  // namespace quillbox
