#pragma once

// The documentation of Vault and its methods, each headed by its text
// signature so that Python's introspection shows the real parameters.

namespace quillbox::python::docstrings {

inline constexpr const char* kVault =
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

inline constexpr const char* kSet =
    "set($self, key, value)\n"
    "--\n"
    "\n"
    "Insert or update a secret entry.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "key : str\n"
    "    The secret key name (must match ``[A-Za-z_][A-Za-z0-9_]*``).\n"
    "value : str | bytes | bytearray\n"
    "    The secret value. A ``bytearray`` is copied into memory owned by\n"
    "    quillbox, and the source bytearray is overwritten with zeros before\n"
    "    this method returns.\n"
    "\n"
    "Raises\n"
    "------\n"
    "QuillBoxError\n"
    "    If the vault is closed.\n"
    "EntryLimitError\n"
    "    If the vault already contains 10,000 entries.\n"
    "TokenizationError\n"
    "    If the key name contains invalid characters.";

inline constexpr const char* kDelete =
    "delete($self, key)\n"
    "--\n"
    "\n"
    "Remove a secret entry by key name.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    `True` if the entry existed and was removed, `False` if not found.\n"
    "\n"
    "Raises\n"
    "------\n"
    "QuillBoxError\n"
    "    If the vault is closed.";

inline constexpr const char* kListKeys =
    "list_keys($self)\n"
    "--\n"
    "\n"
    "Return all key names stored in the vault.\n"
    "\n"
    "Secret values are never exposed — only the key names are returned.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list[str]\n"
    "\n"
    "Raises\n"
    "------\n"
    "QuillBoxError\n"
    "    If the vault is closed.";

inline constexpr const char* kRun =
    "run($self, command, timeout_secs=300, max_output_bytes=52428800, max_stderr_bytes=1048576)\n"
    "--\n"
    "\n"
    "Run a command with secrets injected from the vault.\n"
    "\n"
    "The full pipeline is:\n"
    "\n"
    "1. Tokenize ``command`` using the quillbox POSIX-subset tokenizer.\n"
    "2. Resolve every ``{{KEY_NAME}}`` placeholder against the vault.\n"
    "3. Build a redaction automaton from all vault secrets.\n"
    "4. Spawn the child process via ``posix_spawnp``.\n"
    "5. Return a :class:`RunResult` with redacted stdout/stderr.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "command : str\n"
    "    The command string to execute.  Shell metacharacters (``|``, ``>``,\n"
    "    ``&``, ``;``, etc.) are rejected unless quoted.\n"
    "timeout_secs : int\n"
    "    Maximum wall-clock seconds the child may run.  Default: 300.\n"
    "max_output_bytes : int\n"
    "    Maximum stdout bytes before the child is killed.  Default: 50 MiB.\n"
    "max_stderr_bytes : int\n"
    "    Maximum stderr bytes before the child is killed.  Default: 1 MiB.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "RunResult\n"
    "\n"
    "Raises\n"
    "------\n"
    "TokenizationError\n"
    "    If the command string contains rejected metacharacters or malformed\n"
    "    placeholders.\n"
    "PlaceholderError\n"
    "    If a ``{{KEY}}`` placeholder references a key not in the vault.\n"
    "CommandError\n"
    "    If the command binary is not found, not executable, or the child\n"
    "    exceeds the timeout or output limit.\n"
    "QuillBoxError\n"
    "    If the vault is closed or an internal error occurs.";

inline constexpr const char* kExport =
    "export($self, out_path)\n"
    "--\n"
    "\n"
    "Export the vault to an encrypted backup file.\n"
    "\n"
    "The export is re-encrypted with a fresh salt and nonces using the same\n"
    "master passphrase.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "out_path : str\n"
    "    Path to write the encrypted export file.\n"
    "\n"
    "Raises\n"
    "------\n"
    "QuillBoxError\n"
    "    If the vault is closed or the export fails.";

inline constexpr const char* kImportVault =
    "import_vault($self, import_path, overwrite=False, import_key_env=None)\n"
    "--\n"
    "\n"
    "Import entries from an encrypted export file.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "import_path : str\n"
    "    Path to the encrypted vault file to import from.\n"
    "overwrite : bool\n"
    "    If `True`, replace existing entries with imported values.\n"
    "    If `False` (default), skip entries whose key names already exist.\n"
    "import_key_env : str | None\n"
    "    Name of the env var holding the import file's passphrase.\n"
    "    If `None`, the current vault's passphrase is used.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "tuple[int, int, int]\n"
    "    ``(added, skipped, replaced)`` counts.\n"
    "\n"
    "Raises\n"
    "------\n"
    "QuillBoxError\n"
    "    If the vault is closed or the import fails.";

inline constexpr const char* kClose =
    "close($self)\n"
    "--\n"
    "\n"
    "Zeroize all in-memory secret data and release the vault.\n"
    "\n"
    "Safe to call multiple times — subsequent calls are no-ops.";

inline constexpr const char* kEnter =
    "__enter__($self)\n--\n\nEnter the context manager — returns `self`.";

inline constexpr const char* kExit =
    "__exit__($self, _exc_type, _exc_val, _exc_tb)\n--\n\n"
    "Exit the context manager — calls `close()`.";

inline constexpr const char* kDel =
    "__del__($self)\n--\n\nBest-effort cleanup when the object is garbage-collected.";

}  // namespace quillbox::python::docstrings
