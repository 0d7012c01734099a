#include "python/native/run_pipeline.hpp"

#include <utility>
#include <vector>

#include "core/secret_bytes.hpp"
#include "python/native/exceptions.hpp"
#include "python/native/run_result_type.hpp"
#include "python/native/vault_object.hpp"
#include "spawn/executor.hpp"
#include "tokenizer/placeholders.hpp"
#include "tokenizer/tokenizer.hpp"
#include "vault/kdf.hpp"

namespace quillbox::python {
namespace {

// A shorter passphrase would redact ordinary words.
constexpr std::size_t kMinRedactedPassphraseBytes = 8;

// What the locked half of a run hands to the executor: the argument vector and
// a copy of every entry for the redactor, not only those the command names.
struct PreparedRun {
    std::vector<SecretBytes> argv;
    SecretList secrets;
};

// Every entry, then the master passphrase under the name of its variable: a
// child may come upon it elsewhere, in a CI job's environment for example. It
// is read now, as a save reads it; when it cannot be read, the run goes on
// without it.
SecretList collect_secrets(const VaultState& state) {
    SecretList secrets;
    secrets.reserve(state.entries().size() + 1);
    for (const VaultEntry& entry : state.entries()) {
        secrets.push_back({entry.name, entry.value.clone()});
    }
    if (Result<SecretBytes> passphrase = read_master_passphrase(state.master_key_env());
        passphrase && passphrase->size() >= kMinRedactedPassphraseBytes) {
        secrets.push_back({state.master_key_env(), std::move(*passphrase)});
    }
    return secrets;
}

Result<PreparedRun> prepare_run(std::string_view command, const VaultState& state) {
    Result<std::vector<std::string>> words = tokenize(command);
    if (!words) return fail(std::move(words.error()));
    Result<std::vector<ParsedWord>> parsed = parse_words(std::move(*words));
    if (!parsed) return fail(std::move(parsed.error()));
    Result<std::vector<SecretBytes>> argv = resolve_placeholders(*parsed, state.entries());
    if (!argv) return fail(std::move(argv.error()));
    return PreparedRun{std::move(*argv), collect_secrets(state)};
}

}  // namespace

PyObject* run_pipeline(VaultHandle& vault, std::string_view command, const RunLimits& limits) {
    if (vault.is_closed()) return raise_quillbox_error("vault is closed");
    std::optional<Result<PreparedRun>> prepared = with_state_in_interpreter(
        vault, [&](VaultState& state) { return prepare_run(command, state); });
    if (!prepared) return raise_quillbox_error("vault is closed");
    if (!*prepared) return raise_core_error(prepared->error());

    PreparedRun& run = **prepared;
    Result<RunOutcome> outcome = without_interpreter_lock([&] {
        return execute(ExecutorRequest{std::move(run.argv), run.secrets, limits});
    });
    if (!outcome) return raise_core_error(outcome.error());
    return make_run_result(std::move(*outcome));
}

}  // namespace quillbox::python
