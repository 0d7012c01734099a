#pragma once

#include <cstdint>
#include <span>

namespace quillbox::unicode_tables {

// The Unicode properties of unicode_properties.hpp as range tables, which the
// build writes from the Unicode Character Database of one pinned version
// (tools/unicode_tables.py, run by CMakeLists.txt): the product carries some
// kilobytes of tables instead of a Unicode library and its data.

// The code points from first to last, both included.
struct CodePointRange {
    char32_t first;
    char32_t last;
};

struct UnicodeVersion {
    std::uint8_t major;
    std::uint8_t minor;
    std::uint8_t update;

    friend bool operator==(const UnicodeVersion&, const UnicodeVersion&) = default;
};

// The version of the database the tables were written from.
extern const UnicodeVersion kVersion;

// Each table is sorted, and its ranges neither overlap nor touch. All are
// initialised at compile time, so they are ready before any code runs.
extern const std::span<const CodePointRange> kNeedsEscapeInMessage;
extern const std::span<const CodePointRange> kAlphabetic;
extern const std::span<const CodePointRange> kNumeric;

}  // namespace quillbox::unicode_tables
