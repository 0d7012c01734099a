#pragma once

#include <cstdint>
#include <memory>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "redact/redactor.hpp"
#include "vault/vault_state.hpp"

namespace quillbox::python {

// The redactor of an open vault's runs. It is built on the first run after the
// entries or the master passphrase change (another process's save, read in by
// refresh_vault, makes a new state and so a new revision), and shared, immutable, by every run
// until then; building it is most of the cost of a run in a large vault. It
// lives under the vault's inner lock. A run holds on to the one it started
// with, so a redactor that is replaced or closed goes, wiped, when its last
// run ends.
class RunRedactor {
public:
    // The redactor for the state's entries and the passphrase that its
    // variable holds now.
    Result<std::shared_ptr<const Redactor>> for_state(const VaultState& state);

    // Lets the redactor go, as the vault closes.
    void release();

private:
    std::shared_ptr<const Redactor> redactor_;
    // What the redactor was built for: the state's revision and the
    // passphrase it redacts, empty when it redacts none.
    std::uint64_t revision_ = 0;
    SecretBytes passphrase_;
};

}  // namespace quillbox::python
