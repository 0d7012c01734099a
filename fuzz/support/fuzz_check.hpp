#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <string_view>

namespace quillbox::fuzzing {

// Ends the run when a property does not hold, naming it, so that libFuzzer
// reports the input that broke it like any other crash.
inline void fuzz_check(bool holds, std::string_view property,
                       std::source_location where = std::source_location::current()) {
    if (holds) return;
    std::fprintf(stderr, "%s:%u: property broken: %.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<int>(property.size()),
                 property.data());
    std::abort();
}

}  // namespace quillbox::fuzzing
