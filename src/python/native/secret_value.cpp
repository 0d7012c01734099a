#include "python/native/secret_value.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "python/shared/arguments.hpp"
#include "python/shared/py_ref.hpp"

namespace quillbox::python {
namespace {

std::optional<SecretBytes> unsupported_value() {
    PyErr_SetString(PyExc_TypeError, "value must be str, bytes, or bytearray");
    return std::nullopt;
}

std::optional<SecretBytes> copy_and_zero_bytearray(PyObject* value) {
    const auto size = static_cast<std::size_t>(PyByteArray_Size(value));
    char* bytes = PyByteArray_AsString(value);
    SecretBytes copy(std::string_view(bytes, size));
    secure_zero(bytes, size);
    return copy;
}

std::optional<SecretBytes> copy_str(PyObject* value) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 == nullptr) return std::nullopt;
    return SecretBytes(std::string_view(utf8, static_cast<std::size_t>(size)));
}

std::optional<SecretBytes> copy_byte_sequence(PyObject* value) {
    if (PyBytes_Check(value)) {
        return SecretBytes(std::string_view(PyBytes_AS_STRING(value),
                                            static_cast<std::size_t>(PyBytes_GET_SIZE(value))));
    }
    const Py_ssize_t length = PySequence_Size(value);
    if (length < 0) {
        PyErr_Clear();
        return unsupported_value();
    }
    SecretBytes copy;
    copy.reserve(static_cast<std::size_t>(length));
    for (Py_ssize_t index = 0; index < length; ++index) {
        PyRef item = PyRef::steal(PySequence_GetItem(value, index));
        if (!item || !PyLong_Check(item.get())) {
            PyErr_Clear();
            return unsupported_value();
        }
        const long byte = PyLong_AsLong(item.get());
        if (byte < 0 || byte > 255) {
            PyErr_Clear();
            return unsupported_value();
        }
        copy.push_back(static_cast<unsigned char>(byte));
    }
    return copy;
}

}  // namespace

std::optional<SecretBytes> convert_secret_value(PyObject* value) {
    if (PyByteArray_Check(value)) return copy_and_zero_bytearray(value);
    if (PyUnicode_Check(value)) return copy_str(value);
    if (PySequence_Check(value)) return copy_byte_sequence(value);
    return unsupported_value();
}

std::optional<std::vector<VaultEntry>> convert_secret_entries(PyObject* mapping) {
    if (PyObject_HasAttrString(mapping, "items") == 0) {
        PyErr_Format(PyExc_TypeError, "argument 'entries': expected a mapping, got %s",
                     Py_TYPE(mapping)->tp_name);
        return std::nullopt;
    }
    const PyRef items = PyRef::steal(PyMapping_Items(mapping));
    if (!items) return std::nullopt;
    std::vector<VaultEntry> entries;
    entries.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items.get())));
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(items.get()); ++index) {
        PyObject* item = PyList_GET_ITEM(items.get(), index);
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
            PyErr_SetString(PyExc_TypeError, "argument 'entries': items() must give pairs");
            return std::nullopt;
        }
        std::optional<std::string> name = convert_str(PyTuple_GET_ITEM(item, 0), "entries key");
        if (!name) return std::nullopt;
        std::optional<SecretBytes> value = convert_secret_value(PyTuple_GET_ITEM(item, 1));
        if (!value) return std::nullopt;
        entries.push_back(VaultEntry{std::move(*name), std::move(*value)});
    }
    return entries;
}

}  // namespace quillbox::python
