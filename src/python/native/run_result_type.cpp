#include "python/native/run_result_type.hpp"

#include <new>
#include <string_view>

#include "core/message_format.hpp"
#include "python/shared/boundary.hpp"

namespace quillbox::python {
namespace {

struct RunResultObject {
    PyObject_HEAD RunOutcome outcome;
};

RunOutcome& outcome_of(PyObject* self) {
    return reinterpret_cast<RunResultObject*>(self)->outcome;
}

PyObject* new_text(const std::string& text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

constexpr std::size_t kReprTextLimit = 120;

// At most the first 120 bytes, cut on a character boundary, then an ellipsis.
void append_repr_text(std::string& out, std::string_view text) {
    if (text.size() <= kReprTextLimit) {
        append_quoted_text(out, text);
        return;
    }
    std::size_t cut = kReprTextLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    std::string shortened(text.substr(0, cut));
    shortened += "…";
    append_quoted_text(out, shortened);
}

PyObject* run_result_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined for RunResult");
    return nullptr;
}

void run_result_dealloc(PyObject* self) {
    outcome_of(self).~RunOutcome();
    Py_TYPE(self)->tp_free(self);
}

PyObject* run_result_repr(PyObject* self) {
    return guard_python_entry<PyObject*>(nullptr, [&] {
        const RunOutcome& outcome = outcome_of(self);
        std::string repr = "RunResult(exit_code=" + std::to_string(outcome.exit_code) +
                           ", timed_out=" + (outcome.timed_out ? "True" : "False") + ", stdout=";
        append_repr_text(repr, outcome.stdout_text);
        repr += ", stderr=";
        append_repr_text(repr, outcome.stderr_text);
        repr += ")";
        return new_text(repr);
    });
}

PyObject* get_stdout(PyObject* self, void*) {
    return new_text(outcome_of(self).stdout_text);
}
PyObject* get_stderr(PyObject* self, void*) {
    return new_text(outcome_of(self).stderr_text);
}
PyObject* get_exit_code(PyObject* self, void*) {
    return PyLong_FromLong(outcome_of(self).exit_code);
}
PyObject* get_timed_out(PyObject* self, void*) {
    return PyBool_FromLong(outcome_of(self).timed_out);
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
    new (&outcome_of(self)) RunOutcome(std::move(outcome));
    return self;
}

}  // namespace quillbox::python
