#pragma once

#include <Python.h>

#include <optional>

#include "core/secret_bytes.hpp"

namespace quillbox::python {

// Converts the value given to `Vault.set` into a buffer owned by the module:
// a bytearray is copied and then zeroed in place; a str gives its UTF-8 bytes;
// any sequence of ints from 0 to 255 (bytes among them) gives those bytes.
// Anything else is a TypeError "value must be str, bytes, or bytearray".
std::optional<SecretBytes> convert_secret_value(PyObject* value);

}  // namespace quillbox::python
