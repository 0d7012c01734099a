#pragma once

#include <Python.h>

#include <optional>
#include <type_traits>

#include "core/result.hpp"
#include "python/native/exceptions.hpp"
#include "python/native/vault_handle.hpp"
#include "python/shared/interpreter_lock.hpp"

namespace quillbox::python {

struct VaultObject {
    PyObject_HEAD VaultHandle handle;
};

inline VaultHandle& handle_of(PyObject* self) {
    return reinterpret_cast<VaultObject*>(self)->handle;
}

// Runs `operation` on the state under the inner lock with the interpreter lock
// released for the whole of it: saving, exporting and importing do disk and
// cryptographic work. The inner lock is taken only after the interpreter lock
// is given up, so no holder of the inner lock ever waits for it.
template <typename Operation>
auto with_state_outside_interpreter(VaultHandle& vault, Operation&& operation) {
    return without_interpreter_lock([&] { return vault.with_state(operation); });
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
