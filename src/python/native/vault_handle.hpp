#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <type_traits>

#include "core/internal_error.hpp"
#include "python/native/run_redactor.hpp"
#include "vault/vault_state.hpp"

namespace quillbox::python {

// What a Vault object holds besides its Python header: the closed flag, read
// without locking and set once by close; the inner lock; and, under that lock,
// the open vault's state, present from construction until close, and the
// redactor of its runs.
//
// Nothing here touches Python. The inner lock is taken at once when it is free;
// otherwise `wait` is called to block on it, so that the caller decides what
// else to give up while it waits (the interpreter lock).
class VaultHandle {
public:
    using Lock = std::unique_lock<std::mutex>;

    explicit VaultHandle(VaultState state) : state_(std::move(state)) {}

    bool is_closed() const { return closed_.load(); }

    // Runs `operation` on the state under the inner lock. Nothing (an empty
    // optional) when the vault has been closed. An internal failure inside
    // the operation poisons the handle: every later access fails as well.
    template <typename Operation, typename Wait>
    auto with_state(Operation&& operation, Wait&& wait)
        -> std::optional<std::invoke_result_t<Operation, VaultState&>> {
        const Lock lock = take_lock(wait);
        check_not_poisoned();
        if (!state_) return std::nullopt;
        try {
            return operation(*state_);
        } catch (const InternalError&) {
            poisoned_ = true;
            throw;
        }
    }

    // The same for an operation that also takes the runs' redactor.
    template <typename Operation, typename Wait>
    auto with_state_and_redactor(Operation&& operation, Wait&& wait)
        -> std::optional<std::invoke_result_t<Operation, VaultState&, RunRedactor&>> {
        return with_state([&](VaultState& state) { return operation(state, run_redactor_); }, wait);
    }

    // Sets the closed flag; the first caller then wipes and drops the state.
    template <typename Wait>
    void close(Wait&& wait) {
        if (closed_.exchange(true)) return;
        const Lock lock = take_lock(wait);
        check_not_poisoned();
        drop_state();
    }

private:
    template <typename Wait>
    Lock take_lock(Wait& wait) {
        Lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) wait(lock);
        return lock;
    }
    void check_not_poisoned() const;
    void drop_state();

    std::atomic<bool> closed_{false};
    std::mutex mutex_;
    bool poisoned_ = false;
    std::optional<VaultState> state_;
    RunRedactor run_redactor_;
};

}  // namespace quillbox::python
