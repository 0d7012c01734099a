#pragma once

#include <Python.h>

namespace quillbox::python {

extern PyTypeObject VaultType;

// Readies the type; returns false with a Python error set on failure.
bool ready_vault_type();

}  // namespace quillbox::python
