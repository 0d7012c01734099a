#include "python/shared/boundary.hpp"

namespace quillbox::python {

void raise_internal_error(const char* message, const char* source) {
    PyErr_Format(PyExc_RuntimeError, "quillbox internal error (%s): %s", source, message);
}

}  // namespace quillbox::python
