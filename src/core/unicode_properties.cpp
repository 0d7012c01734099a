#include "core/unicode_properties.hpp"

#include <algorithm>
#include <span>

#include "core/unicode_tables.hpp"

namespace quillbox {
namespace {

using unicode_tables::CodePointRange;

bool in_table(std::span<const CodePointRange> table, char32_t code_point) {
    // The first range that ends at or after the code point is the only one
    // that can hold it.
    const auto range = std::ranges::lower_bound(table, code_point, {}, &CodePointRange::last);
    return range != table.end() && range->first <= code_point;
}

}  // namespace

bool needs_escape_in_message(char32_t code_point) {
    return in_table(unicode_tables::kNeedsEscapeInMessage, code_point);
}

bool is_alphabetic(char32_t code_point) {
    return in_table(unicode_tables::kAlphabetic, code_point);
}

bool is_numeric(char32_t code_point) {
    return in_table(unicode_tables::kNumeric, code_point);
}

}  // namespace quillbox
