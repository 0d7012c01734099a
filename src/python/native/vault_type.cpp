#include "python/native/vault_type.hpp"

#include <new>
#include <optional>
#include <string>

#include "python/native/run_arguments.hpp"
#include "python/native/run_pipeline.hpp"
#include "python/native/secret_value.hpp"
#include "python/native/vault_docstrings.hpp"
#include "python/native/vault_object.hpp"
#include "python/shared/arguments.hpp"
#include "python/shared/boundary.hpp"
#include "python/shared/method_table.hpp"
#include "python/shared/py_ref.hpp"
#include "vault/store.hpp"
#include "vault/transfer.hpp"

namespace quillbox::python {
namespace {

PyObject* none() {
    Py_RETURN_NONE;
}

PyObject* vault_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"master_key_env", "vault_path",
                                               "allow_insecure_permissions", nullptr};
        PyObject* key_env_object = nullptr;
        PyObject* path_object = Py_None;
        PyObject* allow_object = Py_False;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:Vault", keyword_list(keywords),
                                         &key_env_object, &path_object, &allow_object)) {
            return nullptr;
        }
        const std::optional<std::string> master_key_env =
            convert_str(key_env_object, "master_key_env");
        if (!master_key_env) return nullptr;
        const auto vault_path = convert_optional_str(path_object, "vault_path");
        if (!vault_path) return nullptr;
        const std::optional<bool> allow_insecure =
            convert_bool(allow_object, "allow_insecure_permissions");
        if (!allow_insecure) return nullptr;

        std::optional<std::filesystem::path> path;
        if (*vault_path) path.emplace(**vault_path);
        Result<VaultState> opened = without_interpreter_lock(
            [&] { return open_vault(*master_key_env, path, *allow_insecure); });
        if (!opened) return raise_core_error(opened.error());

        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        new (&handle_of(self)) VaultHandle(std::move(*opened));
        return self;
    });
}

void vault_dealloc(PyObject* self) {
    // Dropping a state that was never closed wipes it all the same.
    handle_of(self).~VaultHandle();
    Py_TYPE(self)->tp_free(self);
}

PyObject* vault_set(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"key", "value", nullptr};
        PyObject* key_object = nullptr;
        PyObject* value_object = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:set", keyword_list(keywords),
                                         &key_object, &value_object)) {
            return nullptr;
        }
        const std::optional<std::string> key = convert_str(key_object, "key");
        if (!key) return nullptr;
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        // A bytearray is zeroed here, before anything below can fail.
        std::optional<SecretBytes> value = convert_secret_value(value_object);
        if (!value) return nullptr;
        const auto outcome = with_current_state_outside_interpreter(
            vault, [&](VaultState& state) { return set_entry(state, *key, std::move(*value)); });
        return deliver(outcome, none);
    });
}

PyObject* vault_set_many(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"entries", nullptr};
        PyObject* entries_object = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:set_many", keyword_list(keywords),
                                         &entries_object)) {
            return nullptr;
        }
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        std::optional<std::vector<VaultEntry>> entries = convert_secret_entries(entries_object);
        if (!entries) return nullptr;
        const auto outcome = with_current_state_outside_interpreter(
            vault, [&](VaultState& state) { return set_entries(state, std::move(*entries)); });
        return deliver(outcome, none);
    });
}

PyObject* vault_delete(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"key", nullptr};
        PyObject* key_object = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:delete", keyword_list(keywords),
                                         &key_object)) {
            return nullptr;
        }
        const std::optional<std::string> key = convert_str(key_object, "key");
        if (!key) return nullptr;
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        const auto outcome = with_current_state_outside_interpreter(
            vault, [&](VaultState& state) { return delete_entry(state, *key); });
        return deliver(outcome, [](bool removed) { return PyBool_FromLong(removed); });
    });
}

// A cost given by the caller; none for None, which keeps the vault's own.
bool convert_cost(PyObject* object, const char* name, std::optional<std::uint32_t>& cost) {
    if (object == Py_None) return true;
    cost = convert_u32(object, name);
    return cost.has_value();
}

PyObject* vault_rekey(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"new_key_env", "m_cost", "t_cost", "p_cost",
                                               nullptr};
        PyObject* key_env_object = nullptr;
        PyObject* cost_objects[3] = {Py_None, Py_None, Py_None};
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOO:rekey", keyword_list(keywords),
                                         &key_env_object, &cost_objects[0], &cost_objects[1],
                                         &cost_objects[2])) {
            return nullptr;
        }
        const std::optional<std::string> new_key_env = convert_str(key_env_object, "new_key_env");
        if (!new_key_env) return nullptr;
        std::optional<std::uint32_t> m_cost;
        std::optional<std::uint32_t> t_cost;
        std::optional<std::uint32_t> p_cost;
        if (!convert_cost(cost_objects[0], "m_cost", m_cost) ||
            !convert_cost(cost_objects[1], "t_cost", t_cost) ||
            !convert_cost(cost_objects[2], "p_cost", p_cost)) {
            return nullptr;
        }
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        const auto outcome = with_current_state_outside_interpreter(vault, [&](VaultState& state) {
            const KdfParams& current = state.kdf_params();
            const KdfParams params{.m_cost = m_cost.value_or(current.m_cost),
                                   .t_cost = t_cost.value_or(current.t_cost),
                                   .p_cost = p_cost.value_or(current.p_cost)};
            return rekey_vault(state, *new_key_env, params);
        });
        return deliver(outcome, none);
    });
}

PyObject* vault_list_keys(PyObject* self, PyObject*) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        // Reading the file again, when another process saved, takes a key
        // derivation: other threads go on meanwhile.
        const auto names = with_current_state_outside_interpreter(
            vault, [](VaultState& state) -> Result<std::vector<std::string>> {
                return list_entry_names(state);
            });
        return deliver(names, [](const std::vector<std::string>& list) -> PyObject* {
            PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(list.size())));
            if (!result) return nullptr;
            for (std::size_t i = 0; i < list.size(); ++i) {
                PyObject* name = PyUnicode_DecodeUTF8(
                    list[i].data(), static_cast<Py_ssize_t>(list[i].size()), "replace");
                if (name == nullptr) return nullptr;
                PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), name);
            }
            return result.release();
        });
    });
}

PyObject* vault_run(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"command", "timeout_secs", "max_output_bytes",
                                               "max_stderr_bytes", nullptr};
        PyObject* command_object = nullptr;
        PyObject* timeout_object = nullptr;
        PyObject* max_output_object = nullptr;
        PyObject* max_stderr_object = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOO:run", keyword_list(keywords),
                                         &command_object, &timeout_object, &max_output_object,
                                         &max_stderr_object)) {
            return nullptr;
        }
        std::optional<std::string> command = convert_str(command_object, "command");
        if (!command) return nullptr;
        const std::optional<RunLimits> limits = convert_run_limits(
            timeout_object, max_output_object, max_stderr_object, NoLimit::Refused);
        if (!limits) return nullptr;
        return run_pipeline(handle_of(self), CommandRequest{std::move(*command), {}, std::nullopt},
                            *limits, RunSettings{.host_descriptors = HostDescriptors::Inherited});
    });
}

PyObject* vault_run_with(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"command",
                                               "env",
                                               "input",
                                               "stdout",
                                               "stderr",
                                               "timeout_secs",
                                               "max_output_bytes",
                                               "max_stderr_bytes",
                                               "cwd",
                                               "sandbox",
                                               "cancellation",
                                               "base_env",
                                               nullptr};
        PyObject* command_object = nullptr;
        PyObject* env_object = nullptr;
        PyObject* input_object = nullptr;
        PyObject* stdout_object = nullptr;
        PyObject* stderr_object = nullptr;
        PyObject* timeout_object = nullptr;
        PyObject* max_output_object = nullptr;
        PyObject* max_stderr_object = nullptr;
        PyObject* cwd_object = nullptr;
        PyObject* sandbox_object = nullptr;
        PyObject* cancellation_object = nullptr;
        PyObject* base_env_object = nullptr;
        if (!PyArg_ParseTupleAndKeywords(
                args, kwargs, "O|$OOOOOOOOOOO:run_with", keyword_list(keywords), &command_object,
                &env_object, &input_object, &stdout_object, &stderr_object, &timeout_object,
                &max_output_object, &max_stderr_object, &cwd_object, &sandbox_object,
                &cancellation_object, &base_env_object)) {
            return nullptr;
        }
        const std::optional<CommandRequest> request =
            convert_command(command_object, env_object, base_env_object, input_object);
        if (!request) return nullptr;
        const std::optional<RunLimits> limits = convert_run_limits(
            timeout_object, max_output_object, max_stderr_object, NoLimit::GivenAsNone);
        if (!limits) return nullptr;
        const std::optional<OutputDestinations> destinations =
            convert_destinations(stdout_object, stderr_object);
        if (!destinations) return nullptr;
        RunSettings settings{.host_descriptors = HostDescriptors::Closed,
                             .destinations = *destinations};
        if (!convert_child_place(cwd_object, sandbox_object, cancellation_object, settings)) {
            return nullptr;
        }
        return run_pipeline(handle_of(self), *request, *limits, settings);
    });
}

PyObject* vault_export(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"out_path", "replace", nullptr};
        PyObject* path_object = nullptr;
        int replace = 1;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$p:export", keyword_list(keywords),
                                         &path_object, &replace)) {
            return nullptr;
        }
        const std::optional<std::string> out_path = convert_str(path_object, "out_path");
        if (!out_path) return nullptr;
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        const ExistingTarget existing =
            replace != 0 ? ExistingTarget::Replaced : ExistingTarget::Refused;
        const auto outcome = with_current_state_outside_interpreter(
            vault, [&](VaultState& state) { return export_vault(state, *out_path, existing); });
        return deliver(outcome, none);
    });
}

PyObject* vault_import(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"import_path", "overwrite", "import_key_env",
                                               nullptr};
        PyObject* path_object = nullptr;
        PyObject* overwrite_object = Py_False;
        PyObject* key_env_object = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:import_vault", keyword_list(keywords),
                                         &path_object, &overwrite_object, &key_env_object)) {
            return nullptr;
        }
        const std::optional<std::string> import_path = convert_str(path_object, "import_path");
        if (!import_path) return nullptr;
        const std::optional<bool> overwrite = convert_bool(overwrite_object, "overwrite");
        if (!overwrite) return nullptr;
        const auto import_key_env = convert_optional_str(key_env_object, "import_key_env");
        if (!import_key_env) return nullptr;
        VaultHandle& vault = handle_of(self);
        if (vault.is_closed()) return raise_quillbox_error("vault is closed");
        const auto outcome = with_current_state_outside_interpreter(vault, [&](VaultState& state) {
            return import_vault_file(state, *import_path, *overwrite, *import_key_env);
        });
        return deliver(outcome, [](const ImportCounts& counts) {
            return Py_BuildValue("(KKK)", static_cast<unsigned long long>(counts.added),
                                 static_cast<unsigned long long>(counts.skipped),
                                 static_cast<unsigned long long>(counts.replaced));
        });
    });
}

PyObject* vault_close(PyObject* self, PyObject*) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        close_vault_handle(handle_of(self));
        return none();
    });
}

PyObject* vault_enter(PyObject* self, PyObject*) {
    Py_INCREF(self);
    return self;
}

PyObject* vault_exit(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const keywords[] = {"_exc_type", "_exc_val", "_exc_tb", nullptr};
    PyObject* ignored[3] = {};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:__exit__", keyword_list(keywords),
                                     &ignored[0], &ignored[1], &ignored[2])) {
        return nullptr;
    }
    return vault_close(self, nullptr);
}

PyMethodDef vault_methods[] = {
    {"set", with_keywords(vault_set), METH_VARARGS | METH_KEYWORDS, docstrings::kSet},
    {"set_many", with_keywords(vault_set_many), METH_VARARGS | METH_KEYWORDS, docstrings::kSetMany},
    {"rekey", with_keywords(vault_rekey), METH_VARARGS | METH_KEYWORDS, docstrings::kRekey},
    {"delete", with_keywords(vault_delete), METH_VARARGS | METH_KEYWORDS, docstrings::kDelete},
    {"list_keys", vault_list_keys, METH_NOARGS, docstrings::kListKeys},
    {"run", with_keywords(vault_run), METH_VARARGS | METH_KEYWORDS, docstrings::kRun},
    {"run_with", with_keywords(vault_run_with), METH_VARARGS | METH_KEYWORDS, docstrings::kRunWith},
    {"export", with_keywords(vault_export), METH_VARARGS | METH_KEYWORDS, docstrings::kExport},
    {"import_vault", with_keywords(vault_import), METH_VARARGS | METH_KEYWORDS,
     docstrings::kImportVault},
    {"close", vault_close, METH_NOARGS, docstrings::kClose},
    {"__enter__", vault_enter, METH_NOARGS, docstrings::kEnter},
    {"__exit__", with_keywords(vault_exit), METH_VARARGS | METH_KEYWORDS, docstrings::kExit},
    {"__del__", vault_close, METH_NOARGS, docstrings::kDel},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject VaultType = [] {
    PyTypeObject type{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    type.tp_name = "Vault";  // no module prefix: __module__ is "builtins"
    type.tp_basicsize = sizeof(VaultObject);
    type.tp_dealloc = vault_dealloc;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = docstrings::kVault;
    type.tp_methods = vault_methods;
    type.tp_new = vault_new;
    return type;
}();

bool ready_vault_type() {
    return PyType_Ready(&VaultType) == 0;
}

}  // namespace quillbox::python
