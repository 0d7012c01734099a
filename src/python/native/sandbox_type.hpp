#pragma once

#include <Python.h>

#include <filesystem>
#include <optional>
#include <vector>

namespace quillbox::python {

// What a quillbox.Sandbox holds: the paths its caller named, made absolute
// when it was made.
struct SandboxSettings {
    std::optional<std::filesystem::path> workspace;
    std::vector<std::filesystem::path> readable;
    std::vector<std::filesystem::path> writable;
    std::vector<std::filesystem::path> denied;
};

extern PyTypeObject SandboxType;

// Readies the type; returns false with a Python error set on failure.
bool ready_sandbox_type();

// The settings of a Sandbox, or nullptr when `object` is not one.
const SandboxSettings* sandbox_settings_of(PyObject* object);

}  // namespace quillbox::python
