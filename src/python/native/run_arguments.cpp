#include "python/native/run_arguments.hpp"

#include <fcntl.h>

#include <climits>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "python/native/cancellation_type.hpp"
#include "python/native/sandbox_type.hpp"
#include "python/shared/arguments.hpp"
#include "python/shared/py_ref.hpp"

namespace quillbox::python {
namespace {

// Converts a run limit given by the caller; one not given keeps its default,
// and None, where it is taken, is the largest limit there is: none at all.
bool convert_limit(PyObject* object, const char* name, NoLimit no_limit, std::uint64_t& limit) {
    if (object == nullptr) return true;
    if (object == Py_None && no_limit == NoLimit::GivenAsNone) {
        limit = std::numeric_limits<std::uint64_t>::max();
        return true;
    }
    const std::optional<std::uint64_t> value = convert_u64(object, name);
    if (value) limit = *value;
    return value.has_value();
}

// None, or a mapping of str to str, into `variables`; false on failure.
bool convert_environment(PyObject* object, const char* name,
                         std::vector<std::pair<std::string, std::string>>& variables) {
    if (object == nullptr || object == Py_None) return true;
    auto converted = convert_str_mapping(object, name);
    if (!converted) return false;
    variables = std::move(*converted);
    return true;
}

// None, a text whose placeholders are filled, or bytes as they are.
bool convert_input(PyObject* input_object, CommandRequest& request) {
    if (input_object == nullptr || input_object == Py_None) return true;
    if (PyBytes_Check(input_object)) {
        request.input =
            SecretBytes(std::string_view(PyBytes_AS_STRING(input_object),
                                         static_cast<std::size_t>(PyBytes_GET_SIZE(input_object))));
        return true;
    }
    if (!PyUnicode_Check(input_object)) {
        PyErr_Format(PyExc_TypeError, "argument 'input': expected str or bytes, got %s",
                     Py_TYPE(input_object)->tp_name);
        return false;
    }
    std::optional<std::string> text = convert_str(input_object, "input");
    if (!text) return false;
    request.input = std::move(*text);
    return true;
}

// One destination of convert_destinations, left empty for None; false on
// failure.
bool convert_destination(PyObject* object, const char* name, std::optional<int>& destination) {
    if (object == nullptr || object == Py_None) return true;
    PyRef number = PyRef::borrow(object);
    if (!PyLong_Check(object)) {
        if (PyObject_HasAttrString(object, "fileno") == 0) {
            PyErr_Format(PyExc_TypeError,
                         "argument '%s': expected None, a file descriptor or an object with "
                         "fileno(), got %s",
                         name, Py_TYPE(object)->tp_name);
            return false;
        }
        if (PyObject_HasAttrString(object, "flush") != 0) {
            const PyRef flushed = PyRef::steal(PyObject_CallMethod(object, "flush", nullptr));
            if (!flushed) return false;
        }
        number = PyRef::steal(PyObject_CallMethod(object, "fileno", nullptr));
        if (!number) return false;
    }
    const long fd = PyLong_AsLong(number.get());
    if (fd == -1 && PyErr_Occurred() != nullptr) return false;
    const int flags = fd < 0 || fd > INT_MAX ? -1 : ::fcntl(static_cast<int>(fd), F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
        PyErr_Format(PyExc_ValueError, "argument '%s': descriptor %ld is not open for writing",
                     name, fd);
        return false;
    }
    destination = static_cast<int>(fd);
    return true;
}

}  // namespace

std::optional<RunLimits> convert_run_limits(PyObject* timeout_object, PyObject* max_output_object,
                                            PyObject* max_stderr_object, NoLimit no_limit) {
    RunLimits limits{
        .timeout_secs = 300, .max_output_bytes = 52428800, .max_stderr_bytes = 1048576};
    if (!convert_limit(timeout_object, "timeout_secs", no_limit, limits.timeout_secs) ||
        !convert_limit(max_output_object, "max_output_bytes", no_limit, limits.max_output_bytes) ||
        !convert_limit(max_stderr_object, "max_stderr_bytes", no_limit, limits.max_stderr_bytes)) {
        return std::nullopt;
    }
    return limits;
}

std::optional<CommandRequest> convert_command(PyObject* command_object, PyObject* env_object,
                                              PyObject* base_env_object, PyObject* input_object) {
    CommandRequest request;
    request.forms = PlaceholderForms::Extended;
    if (PyUnicode_Check(command_object)) {
        std::optional<std::string> line = convert_str(command_object, "command");
        if (!line) return std::nullopt;
        request.command = std::move(*line);
    } else if (PyBytes_Check(command_object) || !PySequence_Check(command_object)) {
        PyErr_Format(PyExc_TypeError,
                     "argument 'command': expected str or a sequence of str, got %s",
                     Py_TYPE(command_object)->tp_name);
        return std::nullopt;
    } else {
        std::optional<std::vector<std::string>> argv =
            convert_str_sequence(command_object, "command");
        if (!argv) return std::nullopt;
        request.command = std::move(*argv);
    }
    if (!convert_environment(env_object, "env", request.environment) ||
        !convert_environment(base_env_object, "base_env", request.literal_environment) ||
        !convert_input(input_object, request)) {
        return std::nullopt;
    }
    return request;
}

std::optional<OutputDestinations> convert_destinations(PyObject* stdout_object,
                                                       PyObject* stderr_object) {
    OutputDestinations destinations;
    if (!convert_destination(stdout_object, "stdout", destinations.output) ||
        !convert_destination(stderr_object, "stderr", destinations.error)) {
        return std::nullopt;
    }
    return destinations;
}

bool convert_child_place(PyObject* cwd_object, PyObject* sandbox_object,
                         PyObject* cancellation_object, RunSettings& settings) {
    if (cwd_object != nullptr && cwd_object != Py_None) {
        settings.working_directory = convert_path(cwd_object, "cwd");
        if (!settings.working_directory) return false;
    }
    if (sandbox_object != nullptr && sandbox_object != Py_None) {
        settings.sandbox = sandbox_settings_of(sandbox_object);
        if (settings.sandbox == nullptr) {
            PyErr_Format(PyExc_TypeError, "argument 'sandbox': expected None or Sandbox, got %s",
                         Py_TYPE(sandbox_object)->tp_name);
            return false;
        }
    }
    if (cancellation_object != nullptr && cancellation_object != Py_None) {
        settings.cancellation = cancellation_of(cancellation_object);
        if (settings.cancellation == nullptr) {
            PyErr_Format(PyExc_TypeError,
                         "argument 'cancellation': expected None or Cancellation, got %s",
                         Py_TYPE(cancellation_object)->tp_name);
            return false;
        }
    }
    return true;
}

}  // namespace quillbox::python
