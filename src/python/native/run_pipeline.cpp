#include "python/native/run_pipeline.hpp"

#include <fcntl.h>

#include <memory>
#include <utility>
#include <vector>

#include "core/secret_bytes.hpp"
#include "python/native/exceptions.hpp"
#include "python/native/run_result_type.hpp"
#include "python/native/vault_object.hpp"
#include "sandbox/sandbox_policy.hpp"
#include "spawn/executor.hpp"
#include "vault/store.hpp"

namespace quillbox::python {
namespace {

// What the locked half of a run hands to the executor: the argument vector,
// the environment, the folder of the secret files and the build of the
// redactor of the vault's current state, and the vault file's path, which a
// sandbox keeps out of reach; and the build that this one replaced, to be
// let go outside the lock.
struct PreparedRun {
    ResolvedCommand command;
    std::shared_ptr<RedactorBuild> redactor_build;
    std::filesystem::path vault_path;
    std::shared_ptr<RedactorBuild> replaced_build;
};

Result<PreparedRun> prepare_run(const CommandRequest& request, VaultState& state,
                                RunRedactor& run_redactor) {
    if (Status current = refresh_vault(state); !current) return fail(current.error());
    Result<ResolvedCommand> command = resolve_command(request, state.entries());
    if (!command) return fail(std::move(command.error()));
    std::shared_ptr<RedactorBuild> replaced;
    std::shared_ptr<RedactorBuild> build = run_redactor.for_state(state, replaced);
    return PreparedRun{std::move(*command), std::move(build), state.vault_path(),
                       std::move(replaced)};
}

// The folder, opened here so that a missing one is told as such, and not as
// a program that could not be found.
Result<UniqueFd> open_working_directory(const std::optional<std::filesystem::path>& path) {
    if (!path) return UniqueFd();
    UniqueFd directory(::open(path->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) {
        return fail(errors::WorkingDirectoryUnusable{path->string(), errno});
    }
    return directory;
}

// The sandbox of the run: its workspace is the one the caller gave, or else
// the folder the child starts in. The run's own folder of secret files is
// readable too, and no other run's: the memory base above it is not granted.
Result<std::optional<LandlockRuleset>> sandbox_for(const RunSettings& settings,
                                                   const PreparedRun& run) {
    if (settings.sandbox == nullptr) return std::nullopt;
    const SandboxSettings& sandbox = *settings.sandbox;
    std::filesystem::path workspace =
        sandbox.workspace.value_or(settings.working_directory.value_or("."));
    std::vector<std::filesystem::path> readable = sandbox.readable;
    if (run.command.files) readable.push_back(run.command.files->path());
    Result<LandlockRuleset> ruleset = make_ruleset(SandboxPolicy{
        .workspace = std::move(workspace),
        .readable = std::move(readable),
        .writable = sandbox.writable,
        .denied = sandbox.denied,
        .vault_file = run.vault_path,
    });
    if (!ruleset) return fail(std::move(ruleset.error()));
    return std::optional<LandlockRuleset>(std::move(*ruleset));
}

// Runs the command to its end, once its redactor is built. The run, and with
// it the folder of its secret files, goes when it returns: after the child
// was reaped and its output taken, or on any failure.
Result<RunOutcome> start_and_finish(PreparedRun run, const RunLimits& limits,
                                    const RunSettings& settings) {
    run.replaced_build.reset();
    const Result<std::shared_ptr<const Redactor>> redactor = run.redactor_build->redactor();
    if (!redactor) return fail(redactor.error());
    Result<UniqueFd> working_directory = open_working_directory(settings.working_directory);
    if (!working_directory) return fail(std::move(working_directory.error()));
    Result<std::optional<LandlockRuleset>> sandbox = sandbox_for(settings, run);
    if (!sandbox) return fail(std::move(sandbox.error()));
    return execute(ExecutorRequest{
        .argv = std::move(run.command.argv),
        .redactor = **redactor,
        .limits = limits,
        .environment = std::move(run.command.environment),
        .input = std::move(run.command.input),
        .destinations = settings.destinations,
        .host_descriptors = settings.host_descriptors,
        .working_directory = std::move(*working_directory),
        .sandbox = std::move(*sandbox),
        .cancellation = settings.cancellation,
    });
}

}  // namespace

PyObject* run_pipeline(VaultHandle& vault, const CommandRequest& request, const RunLimits& limits,
                       const RunSettings& settings) {
    if (vault.is_closed()) return raise_quillbox_error("vault is closed");
    // The vault file is read again when another process saved, which takes
    // long in a large vault: other threads go on meanwhile. The first run
    // after a change builds the redactor once the vault is let go.
    std::optional<Result<PreparedRun>> prepared = without_interpreter_lock([&] {
        return vault.with_state_and_redactor(
            [&](VaultState& state, RunRedactor& run_redactor) {
                return prepare_run(request, state, run_redactor);
            },
            wait_here);
    });
    if (!prepared) return raise_quillbox_error("vault is closed");
    if (!*prepared) return raise_core_error(prepared->error());

    Result<RunOutcome> outcome = without_interpreter_lock(
        [&] { return start_and_finish(std::move(**prepared), limits, settings); });
    if (!outcome) return raise_core_error(outcome.error());
    return make_run_result(std::move(*outcome));
}

}  // namespace quillbox::python
