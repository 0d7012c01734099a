#include "python/native/sandbox_type.hpp"

#include <cerrno>
#include <new>
#include <string>
#include <system_error>

#include "python/native/exceptions.hpp"
#include "python/shared/arguments.hpp"
#include "python/shared/boundary.hpp"
#include "python/shared/method_table.hpp"
#include "python/shared/py_ref.hpp"
#include "sandbox/landlock.hpp"

namespace quillbox::python {
namespace {

constexpr const char* kSandboxDoc =
    "Sandbox(workspace=None, *, read=(), write=(), deny=())\n"
    "--\n"
    "\n"
    "What a command run with ``sandbox=`` may reach, enforced by the kernel\n"
    "(Landlock) on the command and everything it starts.\n"
    "\n"
    "It may read and run the system's programs and libraries (``/usr``, ``/bin``,\n"
    "``/lib``, ``/opt``, ...), read ``/etc``, ``/proc`` and ``/sys``, read and\n"
    "write the temporary folders (``/tmp``, ``/var/tmp``, ``/dev/shm``, and\n"
    "``$TMPDIR`` where set), ``/dev/null`` and the other harmless devices, and\n"
    "the workspace: nothing else, the user's home included. The vault file and\n"
    "every file beside it named after it (its lockfile, its temporaries, backups\n"
    "named like it) are never reachable, nor is the vault's folder unless an\n"
    "allowed path lies within it. The command cannot signal, trace or read the\n"
    "memory or environment of processes outside its sandbox, and set-user-ID\n"
    "programs gain nothing. The network stays open.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "workspace : path, optional\n"
    "    Read, written and run from; by default the run's working directory.\n"
    "read : sequence of paths\n"
    "    Also readable and runnable.\n"
    "write : sequence of paths\n"
    "    Also readable, writable and runnable.\n"
    "deny : sequence of paths\n"
    "    Never reachable, even beneath an allowed path: backups of the vault,\n"
    "    the file that holds its passphrase.\n"
    "\n"
    "Relative paths are taken from the working directory at the time the\n"
    "Sandbox is made. Allowed paths must exist when a run starts.";

constexpr const char* kCheckDoc =
    "check()\n"
    "--\n"
    "\n"
    "Raise SandboxError, saying why, if this system cannot sandbox commands.";

struct SandboxObject {
    PyObject_HEAD SandboxSettings settings;
};

SandboxSettings& settings_of(PyObject* self) {
    return reinterpret_cast<SandboxObject*>(self)->settings;
}

// Absolute now, so that a later change of directory moves nothing.
bool make_absolute(std::filesystem::path& path) {
    std::error_code error;
    path = std::filesystem::absolute(path, error);
    if (!error) return true;
    errno = error.value();
    PyErr_SetFromErrno(PyExc_OSError);
    return false;
}

bool make_all_absolute(std::vector<std::filesystem::path>& paths) {
    for (std::filesystem::path& path : paths) {
        if (!make_absolute(path)) return false;
    }
    return true;
}

PyObject* sandbox_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const keywords[] = {"workspace", "read", "write", "deny", nullptr};
        PyObject* workspace_object = Py_None;
        PyObject* read_object = nullptr;
        PyObject* write_object = nullptr;
        PyObject* deny_object = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O$OOO:Sandbox", keyword_list(keywords),
                                         &workspace_object, &read_object, &write_object,
                                         &deny_object)) {
            return nullptr;
        }
        SandboxSettings settings;
        if (workspace_object != Py_None) {
            settings.workspace = convert_path(workspace_object, "workspace");
            if (!settings.workspace || !make_absolute(*settings.workspace)) return nullptr;
        }
        const auto convert_paths = [](PyObject* object, const char* name,
                                      std::vector<std::filesystem::path>& paths) {
            if (object == nullptr) return true;
            auto converted = convert_path_sequence(object, name);
            if (!converted) return false;
            paths = std::move(*converted);
            return make_all_absolute(paths);
        };
        if (!convert_paths(read_object, "read", settings.readable) ||
            !convert_paths(write_object, "write", settings.writable) ||
            !convert_paths(deny_object, "deny", settings.denied)) {
            return nullptr;
        }
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        new (&settings_of(self)) SandboxSettings(std::move(settings));
        return self;
    });
}

void sandbox_dealloc(PyObject* self) {
    settings_of(self).~SandboxSettings();
    Py_TYPE(self)->tp_free(self);
}

PyObject* path_text(const std::filesystem::path& path) {
    return PyUnicode_DecodeFSDefaultAndSize(path.c_str(),
                                            static_cast<Py_ssize_t>(path.native().size()));
}

PyObject* path_tuple(const std::vector<std::filesystem::path>& paths) {
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(paths.size())));
    if (!tuple) return nullptr;
    for (std::size_t index = 0; index < paths.size(); ++index) {
        PyObject* text = path_text(paths[index]);
        if (text == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(index), text);
    }
    return tuple.release();
}

PyObject* get_workspace(PyObject* self, void*) {
    const auto& workspace = settings_of(self).workspace;
    if (!workspace) Py_RETURN_NONE;
    return path_text(*workspace);
}

PyObject* get_read(PyObject* self, void*) {
    return path_tuple(settings_of(self).readable);
}

PyObject* get_write(PyObject* self, void*) {
    return path_tuple(settings_of(self).writable);
}

PyObject* get_deny(PyObject* self, void*) {
    return path_tuple(settings_of(self).denied);
}

PyObject* sandbox_repr(PyObject* self) {
    const PyRef workspace = PyRef::steal(get_workspace(self, nullptr));
    const PyRef read = PyRef::steal(get_read(self, nullptr));
    const PyRef write = PyRef::steal(get_write(self, nullptr));
    const PyRef deny = PyRef::steal(get_deny(self, nullptr));
    if (!workspace || !read || !write || !deny) return nullptr;
    return PyUnicode_FromFormat("Sandbox(workspace=%R, read=%R, write=%R, deny=%R)",
                                workspace.get(), read.get(), write.get(), deny.get());
}

PyObject* sandbox_check(PyObject*, PyObject*) {
    return guard_python_entry<PyObject*>(nullptr, []() -> PyObject* {
        const Result<int> version = usable_landlock_version();
        if (!version) return raise_core_error(version.error());
        Py_RETURN_NONE;
    });
}

PyGetSetDef sandbox_getset[] = {
    {"workspace", get_workspace, nullptr, "The folder read and written; None for the run's own.",
     nullptr},
    {"read", get_read, nullptr, "The paths also readable, absolute.", nullptr},
    {"write", get_write, nullptr, "The paths also writable, absolute.", nullptr},
    {"deny", get_deny, nullptr, "The paths never reachable, absolute.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef sandbox_methods[] = {
    {"check", sandbox_check, METH_NOARGS | METH_STATIC, kCheckDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject SandboxType = [] {
    PyTypeObject type{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    type.tp_name = "quillbox.Sandbox";
    type.tp_basicsize = sizeof(SandboxObject);
    type.tp_dealloc = sandbox_dealloc;
    type.tp_repr = sandbox_repr;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = kSandboxDoc;
    type.tp_methods = sandbox_methods;
    type.tp_getset = sandbox_getset;
    type.tp_new = sandbox_new;
    return type;
}();

bool ready_sandbox_type() {
    return PyType_Ready(&SandboxType) == 0;
}

const SandboxSettings* sandbox_settings_of(PyObject* object) {
    if (!PyObject_TypeCheck(object, &SandboxType)) return nullptr;
    return &settings_of(object);
}

}  // namespace quillbox::python
