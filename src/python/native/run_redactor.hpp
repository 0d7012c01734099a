#pragma once

#include <cstdint>
#include <memory>

#include "core/secret_bytes.hpp"
#include "python/native/redactor_build.hpp"
#include "vault/vault_state.hpp"

namespace quillbox::python {

// The redactor of an open vault's runs. It is built by the first run after the
// entries or the master passphrase change (another process's save, read in by
// refresh_vault, makes a new state and so a new revision), and shared, immutable, by every run
// until then; building it is most of the cost of a run in a large vault, so
// it is built outside the vault's inner lock (RedactorBuild). This lives
// under that lock. A run holds on to the one it started with, so a redactor
// that is replaced or closed goes, wiped, when its last run ends.
class RunRedactor {
public:
    // The build of the redactor for the state's entries and the passphrase
    // that its variable holds now: done, under way, or still to be done by
    // the run that asks for it first. A build it replaces goes to `replaced`,
    // for the caller to let go once the vault's lock is released: a large
    // redactor takes a while to wipe.
    std::shared_ptr<RedactorBuild> for_state(const VaultState& state,
                                             std::shared_ptr<RedactorBuild>& replaced);

    // Lets the redactor go, as the vault closes.
    void release();

private:
    std::shared_ptr<RedactorBuild> build_;
    // What the redactor was built for: the state's revision and the
    // passphrase it redacts, empty when it redacts none.
    std::uint64_t revision_ = 0;
    SecretBytes passphrase_;
};

}  // namespace quillbox::python
