#pragma once

#include <Python.h>

#include <optional>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"

namespace quillbox::python {

// Converts the value given to `Vault.set` into a buffer owned by the module:
// a bytearray is copied and then zeroed in place; a str gives its UTF-8 bytes;
// any sequence of ints from 0 to 255 (bytes among them) gives those bytes.
// Anything else is a TypeError "value must be str, bytes, or bytearray".
std::optional<SecretBytes> convert_secret_value(PyObject* value);

// The (name, value) pairs of the mapping given to `Vault.set_many`, in its
// order, each value converted as above (a bytearray zeroed as it is taken).
// Anything but a mapping is a TypeError.
std::optional<std::vector<VaultEntry>> convert_secret_entries(PyObject* mapping);

}  // namespace quillbox::python
