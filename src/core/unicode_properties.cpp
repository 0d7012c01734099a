#include "core/unicode_properties.hpp"

#include <unicode/uchar.h>

#include <cstdint>

namespace quillbox {
namespace {

UChar32 as_icu(char32_t code_point) {
    return static_cast<UChar32>(code_point);
}

}  // namespace

bool needs_escape_in_message(char32_t code_point) {
    if (code_point == U' ') return false;
    if (u_hasBinaryProperty(as_icu(code_point), UCHAR_GRAPHEME_EXTEND)) return true;
    constexpr std::uint32_t kNotPrintable = U_GC_CC_MASK | U_GC_CF_MASK | U_GC_CS_MASK |
                                            U_GC_CO_MASK | U_GC_CN_MASK | U_GC_ZL_MASK |
                                            U_GC_ZP_MASK | U_GC_ZS_MASK;
    return (U_GET_GC_MASK(as_icu(code_point)) & kNotPrintable) != 0;
}

bool is_alphabetic(char32_t code_point) {
    return u_hasBinaryProperty(as_icu(code_point), UCHAR_ALPHABETIC);
}

bool is_numeric(char32_t code_point) {
    constexpr std::uint32_t kNumeric = U_GC_ND_MASK | U_GC_NL_MASK | U_GC_NO_MASK;
    return (U_GET_GC_MASK(as_icu(code_point)) & kNumeric) != 0;
}

}  // namespace quillbox
