#pragma once

#include <stdexcept>
#include <string>

namespace quillbox {

// A broken internal invariant: a fault of this program, not of its input. It
// is the only C++ exception allowed to cross a function boundary; the binding
// turns it into a Python exception, never a crash.
class InternalError : public std::logic_error {
public:
    InternalError(const std::string& message, std::string source)
        : std::logic_error(message), source_(std::move(source)) {}

    // Where the failure was detected, e.g. "src/spawn".
    const std::string& source() const { return source_; }

private:
    std::string source_;
};

}  // namespace quillbox
