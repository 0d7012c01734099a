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

SecretList entries_of(const VaultState& state) {
    SecretList entries;
    entries.reserve(state.entries().size());
    for (const VaultEntry& entry : state.entries()) {
        entries.push_back({entry.name, entry.value.clone()});
    }
    return entries;
}

// The master passphrase, under the name of its variable, is redacted too: a
// child may come upon it elsewhere, in a CI job's environment for example.
// Where one of its forms and an entry's both match at one start, the longer
// wins, so that neither shows its tail.
SecretList outside_secrets_of(const VaultState& state, const SecretBytes& passphrase) {
    SecretList outside;
    if (!passphrase.empty()) outside.push_back({state.master_key_env(), passphrase.clone()});
    return outside;
}

}  // namespace

std::shared_ptr<RedactorBuild> RunRedactor::for_state(const VaultState& state,
                                                      std::shared_ptr<RedactorBuild>& replaced) {
    SecretBytes passphrase = redacted_passphrase(state);
    if (build_ && !build_->failed() && revision_ == state.revision() &&
        equal_in_constant_time(passphrase.bytes(), passphrase_.bytes())) {
        return build_;
    }
    replaced = std::move(build_);
    build_ =
        std::make_shared<RedactorBuild>(entries_of(state), outside_secrets_of(state, passphrase));
    revision_ = state.revision();
    passphrase_ = std::move(passphrase);
    return build_;
}

void RunRedactor::release() {
    build_.reset();
    passphrase_ = SecretBytes();
}

}  // namespace quillbox::python
