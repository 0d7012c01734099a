#include "python/native/run_redactor.hpp"

#include <utility>

#include "core/vault_entry.hpp"
#include "vault/constant_time.hpp"
#include "vault/kdf.hpp"

namespace quillbox::python {
namespace {

// A shorter passphrase would redact ordinary words.
constexpr std::size_t kMinRedactedPassphraseBytes = 8;

// The master passphrase as runs redact it: read now, as a save reads it, and
// nothing when it cannot be read or is too short to be told from a word.
SecretBytes redacted_passphrase(const VaultState& state) {
    Result<SecretBytes> passphrase = read_master_passphrase(state.master_key_env());
    if (!passphrase || passphrase->size() < kMinRedactedPassphraseBytes) return {};
    return std::move(*passphrase);
}

// Every entry, then the master passphrase under the name of its variable: a
// child may come upon it elsewhere, in a CI job's environment for example.
SecretList secrets_of(const VaultState& state, const SecretBytes& passphrase) {
    SecretList secrets;
    secrets.reserve(state.entries().size() + 1);
    for (const VaultEntry& entry : state.entries()) {
        secrets.push_back({entry.name, entry.value.clone()});
    }
    if (!passphrase.empty()) secrets.push_back({state.master_key_env(), passphrase.clone()});
    return secrets;
}

}  // namespace

Result<std::shared_ptr<const Redactor>> RunRedactor::for_state(const VaultState& state) {
    SecretBytes passphrase = redacted_passphrase(state);
    if (redactor_ && revision_ == state.revision() &&
        equal_in_constant_time(passphrase.bytes(), passphrase_.bytes())) {
        return redactor_;
    }
    release();
    Result<Redactor> built = build_redactor(secrets_of(state, passphrase));
    if (!built) return fail(std::move(built.error()));
    redactor_ = std::make_shared<const Redactor>(std::move(*built));
    revision_ = state.revision();
    passphrase_ = std::move(passphrase);
    return redactor_;
}

void RunRedactor::release() {
    redactor_.reset();
    passphrase_ = SecretBytes();
}

}  // namespace quillbox::python
