#include "python/native/vault_handle.hpp"

#include "vault/store.hpp"

namespace quillbox::python {

void VaultHandle::close() {
    if (closed_.exchange(true)) return;
    std::lock_guard lock(mutex_);
    check_not_poisoned();
    close_vault(state_);
}

void VaultHandle::check_not_poisoned() const {
    if (poisoned_) {
        throw InternalError("the vault is unusable after an earlier internal failure",
                            "src/python");
    }
}

}  // namespace quillbox::python
