#include "python/native/run_pipeline.hpp"

#include <memory>
#include <utility>
#include <vector>

#include "core/secret_bytes.hpp"
#include "python/native/exceptions.hpp"
#include "python/native/run_result_type.hpp"
#include "python/native/vault_object.hpp"
#include "spawn/executor.hpp"
#include "vault/store.hpp"

namespace quillbox::python {
namespace {

// What the locked half of a run hands to the executor: the argument vector,
// the environment and the redactor of the vault's current state.
struct PreparedRun {
    ResolvedCommand command;
    std::shared_ptr<const Redactor> redactor;
};

Result<PreparedRun> prepare_run(const CommandRequest& request, VaultState& state,
                                RunRedactor& run_redactor) {
    if (Status current = refresh_vault(state); !current) return fail(current.error());
    Result<ResolvedCommand> command = resolve_command(request, state.entries());
    if (!command) return fail(std::move(command.error()));
    Result<std::shared_ptr<const Redactor>> redactor = run_redactor.for_state(state);
    if (!redactor) return fail(std::move(redactor.error()));
    return PreparedRun{std::move(*command), std::move(*redactor)};
}

}  // namespace

PyObject* run_pipeline(VaultHandle& vault, const CommandRequest& request, const RunLimits& limits,
                       HostDescriptors host_descriptors, const OutputDestinations& destinations) {
    if (vault.is_closed()) return raise_quillbox_error("vault is closed");
    // The vault file is read again when another process saved, and the first
    // run after a change builds the redactor; both take long in a large vault:
    // other threads go on meanwhile.
    std::optional<Result<PreparedRun>> prepared = without_interpreter_lock([&] {
        return vault.with_state_and_redactor(
            [&](VaultState& state, RunRedactor& run_redactor) {
                return prepare_run(request, state, run_redactor);
            },
            wait_here);
    });
    if (!prepared) return raise_quillbox_error("vault is closed");
    if (!*prepared) return raise_core_error(prepared->error());

    PreparedRun& run = **prepared;
    Result<RunOutcome> outcome = without_interpreter_lock([&] {
        return execute(ExecutorRequest{std::move(run.command.argv), *run.redactor, limits,
                                       std::move(run.command.environment),
                                       std::move(run.command.input), std::move(run.command.files),
                                       destinations, host_descriptors});
    });
    if (!outcome) return raise_core_error(outcome.error());
    return make_run_result(std::move(*outcome));
}

}  // namespace quillbox::python
