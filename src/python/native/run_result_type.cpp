#include "python/native/run_result_type.hpp"

#include <cstdint>
#include <string_view>

#include "core/message_format.hpp"
#include "python/native/redacted_str.hpp"
#include "python/shared/boundary.hpp"

namespace quillbox::python {
namespace {

// Each output is decoded into a str once, when the result is made, and the
// native buffer that held it is given back as it is copied (redacted_str.hpp);
// every access returns the same str.
struct RunResultObject {
    PyObject_HEAD PyObject* stdout_text;
    PyObject* stderr_text;
    std::int32_t exit_code;
    StopCause stopped_by;
};

RunResultObject& result_of(PyObject* self) {
    return *reinterpret_cast<RunResultObject*>(self);
}

PyObject* new_text(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

constexpr std::size_t kReprTextLimit = 120;

// At most the first 120 bytes of the text's UTF-8, cut on a character
// boundary, then an ellipsis. No more than 120 characters are encoded for it.
bool append_repr_text(std::string& out, PyObject* text) {
    PyObject* head = PyUnicode_Substring(text, 0, kReprTextLimit + 1);
    if (head == nullptr) return false;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(head, &size);
    if (utf8 == nullptr) {
        Py_DECREF(head);
        return false;
    }
    const std::string_view bytes(utf8, static_cast<std::size_t>(size));
    if (bytes.size() <= kReprTextLimit) {
        append_quoted_text(out, bytes);
    } else {
        std::size_t cut = kReprTextLimit;
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
        std::string shortened(bytes.substr(0, cut));
        shortened += "…";
        append_quoted_text(out, shortened);
    }
    Py_DECREF(head);
    return true;
}

PyObject* run_result_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined for RunResult");
    return nullptr;
}

void run_result_dealloc(PyObject* self) {
    Py_XDECREF(result_of(self).stdout_text);
    Py_XDECREF(result_of(self).stderr_text);
    Py_TYPE(self)->tp_free(self);
}

PyObject* run_result_repr(PyObject* self) {
    return guard_python_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        const RunResultObject& result = result_of(self);
        std::string repr =
            "RunResult(exit_code=" + std::to_string(result.exit_code) +
            ", timed_out=" + (result.stopped_by == StopCause::Timeout ? "True" : "False") +
            ", stdout=";
        if (!append_repr_text(repr, result.stdout_text)) return nullptr;
        repr += ", stderr=";
        if (!append_repr_text(repr, result.stderr_text)) return nullptr;
        repr += ")";
        return new_text(repr);
    });
}

PyObject* new_reference(PyObject* object) {
    Py_INCREF(object);
    return object;
}

PyObject* get_stdout(PyObject* self, void*) {
    return new_reference(result_of(self).stdout_text);
}
PyObject* get_stderr(PyObject* self, void*) {
    return new_reference(result_of(self).stderr_text);
}
PyObject* get_exit_code(PyObject* self, void*) {
    return PyLong_FromLong(result_of(self).exit_code);
}
PyObject* get_timed_out(PyObject* self, void*) {
    return PyBool_FromLong(static_cast<long>(result_of(self).stopped_by == StopCause::Timeout));
}

// What quillbox did, in the words the attribute's documentation gives.
PyObject* get_stopped_by(PyObject* self, void*) {
    switch (result_of(self).stopped_by) {
        case StopCause::None: Py_RETURN_NONE;
        case StopCause::Timeout: return PyUnicode_FromString("timeout");
        case StopCause::OutputLimit: return PyUnicode_FromString("stdout limit");
        case StopCause::ErrorLimit: return PyUnicode_FromString("stderr limit");
        case StopCause::Cancellation: return PyUnicode_FromString("cancelled");
    }
    Py_RETURN_NONE;
}

PyGetSetDef run_result_getset[] = {
    {"stdout", get_stdout, nullptr, "Redacted stdout (UTF-8 lossy decoded).", nullptr},
    {"stderr", get_stderr, nullptr, "Redacted stderr (UTF-8 lossy decoded).", nullptr},
    {"exit_code", get_exit_code, nullptr,
     "The child process exit code (0–255), or 124 on timeout/output-limit,\n"
     "or 128+N when killed by signal N.",
     nullptr},
    {"timed_out", get_timed_out, nullptr,
     "`True` when the child was killed because it exceeded `timeout_secs`.", nullptr},
    {"stopped_by", get_stopped_by, nullptr,
     "What quillbox stopped the command for, or cut its output at: \"timeout\",\n"
     "\"stdout limit\", \"stderr limit\" or \"cancelled\"; None when the command\n"
     "ran to its own end, whatever its exit code (124 included).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kRunResultDoc =
    "The result of running a command through the vault pipeline.\n"
    "\n"
    "All output has been passed through the redactor — no raw secret values\n"
    "will appear in `stdout` or `stderr`.";

}  // namespace

PyTypeObject RunResultType = [] {
    PyTypeObject type{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
    type.tp_name = "RunResult";  // no module prefix: __module__ is "builtins"
    type.tp_basicsize = sizeof(RunResultObject);
    type.tp_dealloc = run_result_dealloc;
    type.tp_repr = run_result_repr;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = kRunResultDoc;
    type.tp_getset = run_result_getset;
    type.tp_new = run_result_new;
    return type;
}();

bool ready_run_result_type() {
    return PyType_Ready(&RunResultType) == 0;
}

PyObject* make_run_result(RunOutcome outcome) {
    PyObject* self = RunResultType.tp_alloc(&RunResultType, 0);
    if (self == nullptr) return nullptr;
    RunResultObject& result = result_of(self);
    result.exit_code = outcome.exit_code;
    result.stopped_by = outcome.stopped_by;
    result.stdout_text = take_as_str(outcome.stdout_text);
    if (result.stdout_text == nullptr) {
        Py_DECREF(self);
        return nullptr;
    }
    result.stderr_text = take_as_str(outcome.stderr_text);
    if (result.stderr_text == nullptr) {
        Py_DECREF(self);
        return nullptr;
    }
    return self;
}

}  // namespace quillbox::python
