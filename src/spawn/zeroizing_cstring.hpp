#pragma once

#include <optional>
#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

// A NUL-terminated child argument, wiped (terminator included) on release.
class ZeroizingCString {
public:
    // The bytes must hold no NUL; callers reject an interior NUL before this.
    explicit ZeroizingCString(std::string_view bytes);

    // The NUL-terminated bytes, for a system call that only reads them.
    const char* as_ptr() const;

    // Takes the string out, wipes every byte of it including the NUL, frees it.
    void release() { storage_.reset(); }

private:
    std::optional<SecretBytes> storage_;
};

}  // namespace quillbox
