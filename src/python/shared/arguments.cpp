#include "python/shared/arguments.hpp"

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

}  // namespace

std::optional<std::string> convert_str(PyObject* object, const char* name) {
    if (!PyUnicode_Check(object)) return type_error<std::string>(name, "str", object);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return std::nullopt;  // not encodable as UTF-8
    return std::string(utf8, static_cast<std::size_t>(size));
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

}  // namespace quillbox::python
