#include "python/native/exceptions.hpp"

#include <array>
#include <optional>
#include <string>

#include "python/shared/py_ref.hpp"
#include "python/shared/raise_message.hpp"

namespace quillbox::python {
namespace {

// Class objects live for the life of the process; they are created and read
// with the interpreter lock held, which makes each slot a once-initialised one.
std::array<PyObject*, kExceptionClassCount> class_slots{};

PyObject* create_exception_class(ExceptionClass which) {
    PyObject* base = PyExc_Exception;
    // The root class says that an error of the binding's own has no kind; an
    // error of the core sets its kind on the instance.
    PyRef attributes = PyRef::steal(PyDict_New());
    if (!attributes) return nullptr;
    if (const std::optional<ExceptionClass> ours = exception_class_base(which)) {
        base = exception_class(*ours);
        if (base == nullptr) return nullptr;
    } else if (PyDict_SetItemString(attributes.get(), "kind", Py_None) != 0) {
        return nullptr;
    }
    const std::string qualified_name = std::string("_native.") + exception_class_name(which);
    PyObject* created = PyErr_NewExceptionWithDoc(
        qualified_name.c_str(), exception_class_doc(which), base, attributes.get());
    if (created == nullptr) {
        PyErr_Format(PyExc_RuntimeError, "Failed to initialize new exception type. (%s)",
                     qualified_name.c_str());
    }
    return created;
}

}  // namespace

PyObject* exception_class(ExceptionClass which) {
    PyObject*& slot = class_slots[static_cast<std::size_t>(which)];
    if (slot == nullptr) slot = create_exception_class(which);
    return slot;
}

PyObject* raise_core_error(const CoreError& error) {
    std::string message = error.to_text();
    // The vault cannot tell a wrong passphrase from a damaged header: the
    // passphrase keys the header's MAC. The likelier cause is named after the
    // error's own text.
    if (error.kind() == ErrorKind::HeaderMacMismatch) {
        message += "; a wrong passphrase gives this too";
    }
    return raise_with_kind(exception_class(exception_class_for(error)), message,
                           kind_name(error.kind()));
}

PyObject* raise_quillbox_error(std::string_view message) {
    return raise_with_message(exception_class(ExceptionClass::QuillBoxError), message);
}

}  // namespace quillbox::python
