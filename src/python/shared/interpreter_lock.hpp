#pragma once

#include <Python.h>

#include <type_traits>

namespace quillbox::python {

// Releases the interpreter lock for the life of the object, so that other
// Python threads run during disk, cryptographic and child-process work. Code
// in its scope must not touch any Python object.
class InterpreterLockReleased {
public:
    InterpreterLockReleased() : saved_(PyEval_SaveThread()) {}
    ~InterpreterLockReleased() { PyEval_RestoreThread(saved_); }
    InterpreterLockReleased(const InterpreterLockReleased&) = delete;
    InterpreterLockReleased& operator=(const InterpreterLockReleased&) = delete;

private:
    PyThreadState* saved_;
};

// Runs `work` with the interpreter lock released and returns what it returns.
template <typename Work>
auto without_interpreter_lock(Work&& work) -> std::invoke_result_t<Work> {
    InterpreterLockReleased released;
    return work();
}

}  // namespace quillbox::python
