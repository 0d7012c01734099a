// quillbox._vaultfile: the command-line tool's private way to create a new,
// empty vault. The public module never creates one.
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/key_name.hpp"
#include "core/lock_refusals.hpp"
#include "core/message_format.hpp"
#include "python/shared/arguments.hpp"
#include "python/shared/boundary.hpp"
#include "python/shared/exception_classes.hpp"
#include "python/shared/interpreter_lock.hpp"
#include "python/shared/method_table.hpp"
#include "python/shared/py_ref.hpp"
#include "python/shared/raise_message.hpp"
#include "redact/secret_patterns.hpp"
#include "vault/vault_creation.hpp"

namespace quillbox::python {
namespace {

// Raises the error as the public module's exception class, so that callers
// catch one family of exceptions whichever module failed.
PyObject* raise_as_public_exception(const CoreError& error) {
    PyRef module = PyRef::steal(PyImport_ImportModule("quillbox._native"));
    if (!module) return nullptr;
    PyRef type = PyRef::steal(
        PyObject_GetAttrString(module.get(), exception_class_name(exception_class_for(error))));
    return raise_with_kind(type.get(), error.to_text(), kind_name(error.kind()));
}

PyObject* create_vault(PyObject*, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"vault_path", "m_cost",         "t_cost",
                                               "p_cost",     "master_key_env", nullptr};
        PyObject* objects[5] = {};
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOO:create_vault", keyword_list(keywords),
                                         &objects[0], &objects[1], &objects[2], &objects[3],
                                         &objects[4])) {
            return nullptr;
        }
        const auto vault_path = convert_optional_str(objects[0], "vault_path");
        if (!vault_path) return nullptr;
        const std::optional<std::uint32_t> m_cost = convert_u32(objects[1], "m_cost");
        if (!m_cost) return nullptr;
        const std::optional<std::uint32_t> t_cost = convert_u32(objects[2], "t_cost");
        if (!t_cost) return nullptr;
        const std::optional<std::uint32_t> p_cost = convert_u32(objects[3], "p_cost");
        if (!p_cost) return nullptr;
        const std::optional<std::string> key_env = convert_str(objects[4], "master_key_env");
        if (!key_env) return nullptr;

        std::optional<std::filesystem::path> path;
        if (*vault_path) path.emplace(**vault_path);
        const KdfParams params{.m_cost = *m_cost, .t_cost = *t_cost, .p_cost = *p_cost};
        const Result<std::filesystem::path> created =
            without_interpreter_lock([&] { return create_vault_file(path, params, *key_env); });
        if (!created) return raise_as_public_exception(created.error());
        const std::string& written = created->native();
        return PyUnicode_DecodeFSDefaultAndSize(written.data(),
                                                static_cast<Py_ssize_t>(written.size()));
    });
}

// A name is ASCII: any other text, one that UTF-8 cannot encode included (a
// command-line word that was not UTF-8), is no name.
PyObject* is_key_name(PyObject*, PyObject* text_object) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        if (!PyUnicode_Check(text_object)) {
            PyErr_Format(PyExc_TypeError, "argument 'text': expected str, got %s",
                         Py_TYPE(text_object)->tp_name);
            return nullptr;
        }
        if (PyUnicode_IS_ASCII(text_object) == 0) Py_RETURN_FALSE;
        Py_ssize_t size = 0;
        const char* ascii = PyUnicode_AsUTF8AndSize(text_object, &size);
        if (ascii == nullptr) return nullptr;
        const std::string_view text(ascii, static_cast<std::size_t>(size));
        return PyBool_FromLong(static_cast<long>(is_valid_key_name(text)));
    });
}

PyObject* tally_memory_lock_refusals(PyObject*, PyObject*) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        set_lock_refusal_reports(LockRefusalReports::Tallied);
        Py_RETURN_NONE;
    });
}

PyObject* take_memory_lock_refusals(PyObject*, PyObject*) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        const LockRefusalTally tally = take_lock_refusals();
        if (tally.count == 0) Py_RETURN_NONE;
        const std::string reason = os_error_text(tally.last_error);
        return Py_BuildValue("(KKs)", static_cast<unsigned long long>(tally.count),
                             static_cast<unsigned long long>(tally.bytes), reason.c_str());
    });
}

PyMethodDef module_functions[] = {
    {"create_vault", with_keywords(create_vault), METH_VARARGS | METH_KEYWORDS,
     "create_vault(vault_path, m_cost, t_cost, p_cost, master_key_env)\n"
     "--\n"
     "\n"
     "Write a new vault without entries and return its path.\n"
     "\n"
     "The passphrase is read from the environment variable named by\n"
     "``master_key_env``; ``vault_path`` None means the default path. An existing\n"
     "file is never replaced."},
    {"is_key_name", is_key_name, METH_O,
     "is_key_name(text, /)\n"
     "--\n"
     "\n"
     "Whether the text follows the rule of entry names (``KEY_NAME_RULE``),\n"
     "which the names of environment variables follow too."},
    {"tally_memory_lock_refusals", tally_memory_lock_refusals, METH_NOARGS,
     "tally_memory_lock_refusals()\n"
     "--\n"
     "\n"
     "From now on, memory locks that the system refuses are counted, not each\n"
     "written as a warning line."},
    {"take_memory_lock_refusals", take_memory_lock_refusals, METH_NOARGS,
     "take_memory_lock_refusals()\n"
     "--\n"
     "\n"
     "The refusals counted since the last call: (count, bytes, the system's\n"
     "reason for the last one), or None when there were none."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_vaultfile",
    "Private to the quillbox command-line tool: creates new vault files, and\n"
    "tells the rules of the core that the tool explains to its users.",
    0,
    module_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* initialise_module() {
    PyRef module = PyRef::steal(PyModule_Create(&module_definition));
    if (!module) return nullptr;
    // Shorter values are redacted in their raw and standard forms only.
    if (PyModule_AddIntConstant(module.get(), "MIN_ENCODED_FORM_BYTES",
                                static_cast<long>(kMinEncoderFormBytes)) != 0 ||
        PyModule_AddStringConstant(module.get(), "KEY_NAME_RULE",
                                   std::string(kKeyNameRule).c_str()) != 0) {
        return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace quillbox::python

PyMODINIT_FUNC PyInit__vaultfile() {
    return quillbox::python::guard_python_entry<PyObject*>(
        nullptr, [] { return quillbox::python::initialise_module(); });
}
