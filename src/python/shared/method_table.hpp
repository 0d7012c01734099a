#pragma once

#include <Python.h>

namespace quillbox::python {

// Method tables hold every kind of method function under one pointer type.
inline PyCFunction with_keywords(PyCFunctionWithKeywords function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// PyArg_ParseTupleAndKeywords takes its keyword list as non-const on older Pythons.
inline char** keyword_list(const char* const* keywords) {
    return const_cast<char**>(keywords);
}

}  // namespace quillbox::python
