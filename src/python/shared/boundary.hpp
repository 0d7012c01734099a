#pragma once

#include <Python.h>

#include <exception>
#include <new>

#include "core/internal_error.hpp"

namespace quillbox::python {

// Sets a RuntimeError for a broken internal invariant.
void raise_internal_error(const char* message, const char* source);

// Runs the body of a function that Python calls. No C++ exception may leave
// it: an internal-invariant failure becomes a Python exception instead of
// ending the host process. `on_failure` is what the function returns to signal
// the error (nullptr or -1).
template <typename Result, typename Body>
Result guard_python_entry(Result on_failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const InternalError& error) {
        raise_internal_error(error.what(), error.source().c_str());
    } catch (const std::exception& error) {
        raise_internal_error(error.what(), "src/python");
    } catch (...) {
        raise_internal_error("unknown failure", "src/python");
    }
    return on_failure;
}

}  // namespace quillbox::python
