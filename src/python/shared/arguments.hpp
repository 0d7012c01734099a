#pragma once

#include <Python.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillbox::python {

// Conversions of method arguments. Each returns nothing with a Python error
// set on failure; a TypeError's message is prefixed with "argument '{name}': ",
// other errors (OverflowError, UnicodeEncodeError) are left as they are.

// A str, as its UTF-8 bytes.
std::optional<std::string> convert_str(PyObject* object, const char* name);

// A sequence of str other than a str or bytes itself (a list, a tuple), as
// their UTF-8 bytes in order.
std::optional<std::vector<std::string>> convert_str_sequence(PyObject* object, const char* name);

// A mapping of str to str, as (key, value) pairs of UTF-8 bytes in the
// mapping's own order.
std::optional<std::vector<std::pair<std::string, std::string>>> convert_str_mapping(
    PyObject* object, const char* name);

// None, or a str as its UTF-8 bytes. The outer optional is empty on failure.
std::optional<std::optional<std::string>> convert_optional_str(PyObject* object, const char* name);

// A path: a str, bytes or an os.PathLike, as the file system names it.
std::optional<std::filesystem::path> convert_path(PyObject* object, const char* name);

// A sequence of paths other than a str or bytes itself, in order.
std::optional<std::vector<std::filesystem::path>> convert_path_sequence(PyObject* object,
                                                                        const char* name);

// Exactly True or False.
std::optional<bool> convert_bool(PyObject* object, const char* name);

// An int (or an object with __index__) from 0 to 2**64 - 1.
std::optional<std::uint64_t> convert_u64(PyObject* object, const char* name);

// The same from 0 to 2**32 - 1.
std::optional<std::uint32_t> convert_u32(PyObject* object, const char* name);

}  // namespace quillbox::python
