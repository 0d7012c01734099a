#include "python/shared/raise_message.hpp"

#include "python/shared/py_ref.hpp"

namespace quillbox::python {

namespace {

PyRef message_text(std::string_view message) {
    return PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
}

}  // namespace

PyObject* raise_with_message(PyObject* type, std::string_view message) {
    if (type == nullptr) return nullptr;
    PyRef text = message_text(message);
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

PyObject* raise_with_kind(PyObject* type, std::string_view message, const char* kind) {
    if (type == nullptr) return nullptr;
    PyRef text = message_text(message);
    if (!text) return nullptr;
    PyRef exception = PyRef::steal(PyObject_CallOneArg(type, text.get()));
    if (!exception) return nullptr;
    PyRef kind_text = PyRef::steal(PyUnicode_FromString(kind));
    if (!kind_text || PyObject_SetAttrString(exception.get(), "kind", kind_text.get()) != 0) {
        return nullptr;
    }
    PyErr_SetObject(type, exception.get());
    return nullptr;
}

}  // namespace quillbox::python
