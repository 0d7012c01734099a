#pragma once

#include <ostream>

#include "core/error.hpp"

namespace quillbox {

// Tests compare errors by kind and fields; a failure shows the error's text.
inline void PrintTo(const CoreError& error, std::ostream* out) {
    *out << error.to_text();
}

}  // namespace quillbox
