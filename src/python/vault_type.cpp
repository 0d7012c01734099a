#include "python/vault_type.hpp"

namespace quillbox::python {
namespace {

constexpr const char* kVaultDoc =
    "Vault(master_key_env, vault_path=None, allow_insecure_permissions=False)\n"
    "--\n"
    "\n"
    "An open, decrypted quillbox vault.\n"
    "\n"
    "Use as a context manager to ensure the vault is closed (and all in-memory\n"
    "secret data is zeroized) when you are done:\n"
    "\n"
    "```python\n"
    "with quillbox.Vault(master_key_env=\"QUILLBOX_KEY\") as v:\n"
    "    result = v.run(\"echo {{MY_SECRET}}\")\n"
    "    print(result.stdout)\n"
    "```\n"
    "\n"
    "The Python API does not expose `init` — use the `quillbox init` CLI command\n"
    "to create a new vault before using this class.";

}  // namespace

PyTypeObject VaultType = [] {
    PyTypeObject type{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    type.tp_name = "Vault";  // no module prefix: __module__ is "builtins"
    type.tp_basicsize = sizeof(PyObject);
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = kVaultDoc;
    return type;
}();

bool ready_vault_type() {
    return PyType_Ready(&VaultType) == 0;
}

}  // namespace quillbox::python
