#include "python/native/vault_handle.hpp"

#include "vault/store.hpp"

namespace quillbox::python {

void VaultHandle::drop_state() {
    run_redactor_.release();
    close_vault(state_);
}

void VaultHandle::check_not_poisoned() const {
    if (poisoned_) {
        throw InternalError("the vault is unusable after an earlier internal failure",
                            "src/python");
    }
}

}  // namespace quillbox::python
