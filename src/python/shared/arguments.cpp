#include "python/shared/arguments.hpp"

#include <limits>

#include "python/shared/py_ref.hpp"

namespace quillbox::python {
namespace {

template <typename T>
std::optional<T> type_error(const char* name, const char* expected, PyObject* object) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got %s", name, expected,
                 Py_TYPE(object)->tp_name);
    return std::nullopt;
}

// Adds the argument's name to a TypeError raised by a conversion of the host's.
void prefix_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_value = PyRef::steal(value);
    PyRef owned_traceback = PyRef::steal(traceback);
    PyRef reason = PyRef::steal(PyObject_Str(owned_value.get()));
    if (!reason) return;
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, reason.get());
}

// A sequence other than a str or bytes itself (a list, a tuple), each item
// converted by `convert_item`, in order.
template <typename Item, typename ConvertItem>
std::optional<std::vector<Item>> convert_sequence(PyObject* object, const char* name,
                                                  const char* expected, ConvertItem convert_item) {
    if (PyUnicode_Check(object) || PyBytes_Check(object) || !PySequence_Check(object)) {
        return type_error<std::vector<Item>>(name, expected, object);
    }
    const PyRef items = PyRef::steal(PySequence_Fast(object, "expected a sequence"));
    if (!items) return std::nullopt;
    std::vector<Item> converted;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    converted.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t index = 0; index < count; ++index) {
        std::optional<Item> item = convert_item(PySequence_Fast_GET_ITEM(items.get(), index), name);
        if (!item) return std::nullopt;
        converted.push_back(std::move(*item));
    }
    return converted;
}

}  // namespace

std::optional<std::string> convert_str(PyObject* object, const char* name) {
    if (!PyUnicode_Check(object)) return type_error<std::string>(name, "str", object);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return std::nullopt;  // not encodable as UTF-8
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::optional<std::filesystem::path> convert_path(PyObject* object, const char* name) {
    PyObject* converted = nullptr;
    if (PyUnicode_FSConverter(object, &converted) == 0) {
        prefix_type_error(name);
        return std::nullopt;
    }
    const PyRef bytes = PyRef::steal(converted);
    return std::filesystem::path(std::string(
        PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))));
}

std::optional<std::vector<std::string>> convert_str_sequence(PyObject* object, const char* name) {
    return convert_sequence<std::string>(object, name, "a sequence of str", convert_str);
}

std::optional<std::vector<std::filesystem::path>> convert_path_sequence(PyObject* object,
                                                                        const char* name) {
    return convert_sequence<std::filesystem::path>(object, name, "a sequence of paths",
                                                   convert_path);
}

std::optional<std::vector<std::pair<std::string, std::string>>> convert_str_mapping(
    PyObject* object, const char* name) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    if (!PyMapping_Check(object) || PySequence_Check(object)) {
        return type_error<Pairs>(name, "a mapping of str to str", object);
    }
    const PyRef items = PyRef::steal(PyMapping_Items(object));
    if (!items) return std::nullopt;
    Pairs pairs;
    const Py_ssize_t count = PyList_GET_SIZE(items.get());
    pairs.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t index = 0; index < count; ++index) {
        PyObject* item = PyList_GET_ITEM(items.get(), index);
        std::optional<std::string> key = convert_str(PyTuple_GET_ITEM(item, 0), name);
        if (!key) return std::nullopt;
        std::optional<std::string> value = convert_str(PyTuple_GET_ITEM(item, 1), name);
        if (!value) return std::nullopt;
        pairs.emplace_back(std::move(*key), std::move(*value));
    }
    return pairs;
}

std::optional<std::optional<std::string>> convert_optional_str(PyObject* object, const char* name) {
    if (object == Py_None) return std::optional<std::string>();
    std::optional<std::string> text = convert_str(object, name);
    if (!text) return std::nullopt;
    return std::optional<std::string>(std::move(*text));
}

std::optional<bool> convert_bool(PyObject* object, const char* name) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    return type_error<bool>(name, "bool", object);
}

std::optional<std::uint64_t> convert_u64(PyObject* object, const char* name) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) {
        prefix_type_error(name);
        return std::nullopt;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

std::optional<std::uint32_t> convert_u32(PyObject* object, const char* name) {
    const std::optional<std::uint64_t> value = convert_u64(object, name);
    if (!value) return std::nullopt;
    if (*value > std::numeric_limits<std::uint32_t>::max()) {
        PyErr_Format(PyExc_OverflowError, "argument '%s': must be at most 4294967295", name);
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

}  // namespace quillbox::python
