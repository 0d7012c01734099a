#pragma once

#include <Python.h>

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

}  // namespace quillbox::python
