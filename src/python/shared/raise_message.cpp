#include "python/shared/raise_message.hpp"

#include "python/shared/py_ref.hpp"

namespace quillbox::python {

PyObject* raise_with_message(PyObject* type, std::string_view message) {
    if (type == nullptr) return nullptr;
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace quillbox::python
