#pragma once

#include <Python.h>

#include <utility>

namespace quillbox::python {

// An owned reference to a Python object, released when it goes out of scope.
class PyRef {
public:
    PyRef() = default;
    static PyRef steal(PyObject* object) { return PyRef(object); }
    static PyRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;

    PyObject* get() const { return object_; }
    // Hands the reference to the caller (e.g. as a return value to Python).
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace quillbox::python
