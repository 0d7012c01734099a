// The extension module quillbox._native: its initialisation entry is the
// module's only exported symbol.
#include <Python.h>

#include <utility>

#include "python/native/cancellation_type.hpp"
#include "python/native/exceptions.hpp"
#include "python/native/run_result_type.hpp"
#include "python/native/sandbox_type.hpp"
#include "python/native/vault_type.hpp"
#include "python/shared/boundary.hpp"
#include "python/shared/py_ref.hpp"

namespace quillbox::python {
namespace {

constexpr const char* kModuleDoc =
    "Native extension module for quillbox.\n"
    "\n"
    "Import as ``quillbox._native`` (re-exported by ``quillbox.__init__``).";

// Single-phase initialisation without per-module state: the module object is
// made once and handed out again on every later initialisation.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_native", kModuleDoc, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* kept_module = nullptr;
PyInterpreterState* module_interpreter = nullptr;

// Stores a new reference to `value` in the module (available before 3.10's
// PyModule_AddObjectRef).
bool add_object_ref(PyObject* module, const char* name, PyObject* value) {
    Py_INCREF(value);
    if (PyModule_AddObject(module, name, value) == 0) return true;
    Py_DECREF(value);
    return false;
}

// Adds one public name to the module and appends it to __all__.
bool add_public(PyObject* module, const char* name, PyObject* value) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");  // new reference or nullptr
    PyRef all_list = PyRef::steal(all);
    if (!all_list) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all_list = PyRef::steal(PyList_New(0));
        if (!all_list || !add_object_ref(module, "__all__", all_list.get())) {
            return false;
        }
    }
    if (!add_object_ref(module, name, value)) return false;
    PyRef name_text = PyRef::steal(PyUnicode_FromString(name));
    return name_text && PyList_Append(all_list.get(), name_text.get()) == 0;
}

bool register_public_names(PyObject* module) {
    if (!ready_vault_type() || !ready_run_result_type() || !ready_sandbox_type() ||
        !ready_cancellation_type()) {
        return false;
    }
    const std::pair<const char*, PyTypeObject*> types[] = {
        {"Vault", &VaultType},
        {"RunResult", &RunResultType},
        {"Sandbox", &SandboxType},
        {"Cancellation", &CancellationType},
    };
    for (const auto& [name, type] : types) {
        if (!add_public(module, name, reinterpret_cast<PyObject*>(type))) return false;
    }
    for (int index = 0; index < kExceptionClassCount; ++index) {
        const auto which = static_cast<ExceptionClass>(index);
        PyObject* type = exception_class(which);
        if (type == nullptr || !add_public(module, exception_class_name(which), type)) {
            return false;
        }
    }
    return true;
}

PyObject* initialise_module() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    if (kept_module != nullptr) {
        if (interpreter != module_interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "quillbox._native can only be loaded by one interpreter per process");
            return nullptr;
        }
        Py_INCREF(kept_module);
        return kept_module;
    }
    PyRef module = PyRef::steal(PyModule_Create(&module_definition));
    if (!module || !register_public_names(module.get())) return nullptr;
    Py_INCREF(module.get());
    kept_module = module.get();
    module_interpreter = interpreter;
    return module.release();
}

}  // namespace
}  // namespace quillbox::python

PyMODINIT_FUNC PyInit__native() {
    return quillbox::python::guard_python_entry<PyObject*>(
        nullptr, [] { return quillbox::python::initialise_module(); });
}
