#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <type_traits>

#include "core/internal_error.hpp"
#include "vault/vault_state.hpp"

namespace quillbox::python {

// What a Vault object holds besides its Python header: the closed flag, read
// without locking and set once by close; the inner lock; and, under that lock,
// the open vault's state, present from construction until close.
//
// Nothing here touches Python, so the interpreter lock may be held or released
// around any of it. Whoever holds the inner lock never waits for the
// interpreter lock.
class VaultHandle {
public:
    explicit VaultHandle(VaultState state) : state_(std::move(state)) {}

    bool is_closed() const { return closed_.load(); }

    // Runs `operation` on the state under the inner lock. Nothing (an empty
    // optional) when the vault has been closed. An internal failure inside
    // the operation poisons the handle: every later access fails as well.
    template <typename Operation>
    auto with_state(Operation&& operation)
        -> std::optional<std::invoke_result_t<Operation, VaultState&>> {
        std::lock_guard lock(mutex_);
        check_not_poisoned();
        if (!state_) return std::nullopt;
        try {
            return operation(*state_);
        } catch (const InternalError&) {
            poisoned_ = true;
            throw;
        }
    }

    // Sets the closed flag; the first caller then wipes and drops the state.
    void close();

private:
    void check_not_poisoned() const;

    std::atomic<bool> closed_{false};
    std::mutex mutex_;
    bool poisoned_ = false;
    std::optional<VaultState> state_;
};

}  // namespace quillbox::python
