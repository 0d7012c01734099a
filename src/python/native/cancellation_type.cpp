#include "python/native/cancellation_type.hpp"

#include <new>

#include "python/native/exceptions.hpp"
#include "python/shared/boundary.hpp"
#include "python/shared/method_table.hpp"

namespace quillbox::python {
namespace {

constexpr const char* kCancellationDoc =
    "Cancellation()\n"
    "--\n"
    "\n"
    "Stops runs from another thread. Give it to :meth:`Vault.run_with` as\n"
    "``cancellation=``: once :meth:`cancel` is called, each such run stops its\n"
    "child as its timeout would (SIGTERM, then SIGKILL 5 s later) and returns\n"
    "with exit code 124 and ``timed_out`` false. A run given one that is already\n"
    "cancelled stops its child at once.";

constexpr const char* kCancelDoc =
    "cancel($self)\n"
    "--\n"
    "\n"
    "Stop every run given this cancellation, now and from now on. Any thread\n"
    "may call it, any number of times; it never blocks.";

struct CancellationObject {
    PyObject_HEAD std::shared_ptr<Cancellation> cancellation;
};

std::shared_ptr<Cancellation>& held_by(PyObject* self) {
    return reinterpret_cast<CancellationObject*>(self)->cancellation;
}

PyObject* cancellation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {nullptr};
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":Cancellation", keyword_list(keywords))) {
            return nullptr;
        }
        Result<std::shared_ptr<Cancellation>> made = Cancellation::create();
        if (!made) return raise_core_error(made.error());
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        new (&held_by(self)) std::shared_ptr<Cancellation>(std::move(*made));
        return self;
    });
}

void cancellation_dealloc(PyObject* self) {
    // A run still going holds its own share.
    held_by(self).~shared_ptr();
    Py_TYPE(self)->tp_free(self);
}

PyObject* cancellation_cancel(PyObject* self, PyObject*) {
    held_by(self)->cancel();
    Py_RETURN_NONE;
}

PyObject* get_cancelled(PyObject* self, void*) {
    return PyBool_FromLong(held_by(self)->cancelled() ? 1 : 0);
}

PyObject* cancellation_repr(PyObject* self) {
    return PyUnicode_FromFormat("Cancellation(cancelled=%s)",
                                held_by(self)->cancelled() ? "True" : "False");
}

PyMethodDef cancellation_methods[] = {
    {"cancel", cancellation_cancel, METH_NOARGS, kCancelDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef cancellation_getset[] = {
    {"cancelled", get_cancelled, nullptr, "Whether cancel() has been called.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject CancellationType = [] {
    PyTypeObject type{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    type.tp_name = "quillbox.Cancellation";
    type.tp_basicsize = sizeof(CancellationObject);
    type.tp_dealloc = cancellation_dealloc;
    type.tp_repr = cancellation_repr;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = kCancellationDoc;
    type.tp_methods = cancellation_methods;
    type.tp_getset = cancellation_getset;
    type.tp_new = cancellation_new;
    return type;
}();

bool ready_cancellation_type() {
    return PyType_Ready(&CancellationType) == 0;
}

std::shared_ptr<const Cancellation> cancellation_of(PyObject* object) {
    if (!PyObject_TypeCheck(object, &CancellationType)) return nullptr;
    return held_by(object);
}

}  // namespace quillbox::python
