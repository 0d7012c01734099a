#pragma once

#include <Python.h>

#include <optional>
#include <type_traits>

#include "core/result.hpp"
#include "python/native/exceptions.hpp"
#include "python/native/vault_handle.hpp"
#include "python/shared/interpreter_lock.hpp"
#include "vault/store.hpp"

namespace quillbox::python {

struct VaultObject {
    PyObject_HEAD VaultHandle handle;
};

inline VaultHandle& handle_of(PyObject* self) {
    return reinterpret_cast<VaultObject*>(self)->handle;
}

// No thread waits for a vault's inner lock while it holds the interpreter lock:
// it tries the inner lock, and waits for it only with the interpreter lock
// given up. A holder of the inner lock may then wait for the interpreter lock
// (to take it back, or to run Python code), and that cannot deadlock: the
// thread that holds the interpreter lock either gets the inner lock at once
// or gives the interpreter lock up to wait. Saves, which wait for the lockfile
// of other processes under the inner lock, thus never hold up other threads.

// Waits for the inner lock with the interpreter lock given up, and takes the
// interpreter lock back once the inner lock is held.
inline void wait_outside_interpreter(VaultHandle::Lock& lock) {
    const InterpreterLockReleased released;
    lock.lock();
}

// Waits for the inner lock where the interpreter lock is given up already.
inline void wait_here(VaultHandle::Lock& lock) {
    lock.lock();
}

// Runs `operation` on the state under the inner lock with the interpreter lock
// released for the whole of it: saving, exporting and importing do disk and
// cryptographic work.
template <typename Operation>
auto with_state_outside_interpreter(VaultHandle& vault, Operation&& operation) {
    return without_interpreter_lock([&] { return vault.with_state(operation, wait_here); });
}

// `operation` on the state once it holds what the vault file holds now
// (refresh_vault); its result, or the error of a file that cannot be read.
template <typename Operation>
auto on_current_state(Operation&& operation) {
    return [&](VaultState& state) -> std::invoke_result_t<Operation, VaultState&> {
        if (Status current = refresh_vault(state); !current) return fail(current.error());
        return operation(state);
    };
}

// with_state_outside_interpreter on the state as the vault file holds it now.
template <typename Operation>
auto with_current_state_outside_interpreter(VaultHandle& vault, Operation&& operation) {
    return with_state_outside_interpreter(vault, on_current_state(operation));
}

// Closes the vault; a save in progress on another thread is waited for with
// the interpreter lock given up.
inline void close_vault_handle(VaultHandle& vault) {
    vault.close(wait_outside_interpreter);
}

// Turns the outcome of an operation on the state into a Python result:
// "vault is closed" when there was no state, the error's exception when it
// failed, otherwise what `to_python` makes of the value.
template <typename Value, typename ToPython>
PyObject* deliver(const std::optional<Result<Value>>& outcome, ToPython&& to_python) {
    if (!outcome) return raise_quillbox_error("vault is closed");
    if (!*outcome) return raise_core_error(outcome->error());
    if constexpr (std::is_void_v<Value>) {
        return to_python();
    } else {
        return to_python(**outcome);
    }
}

}  // namespace quillbox::python
