#include "core/unicode_properties.hpp"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/unicode_tables.hpp"

namespace quillbox {
namespace {

// ICU's answers, as the product asked ICU before it had tables of its own.
bool icu_needs_escape_in_message(UChar32 code_point) {
    if (code_point == U' ') return false;
    constexpr std::uint32_t kEscaped = U_GC_CC_MASK | U_GC_CF_MASK | U_GC_CS_MASK | U_GC_CO_MASK |
                                       U_GC_CN_MASK | U_GC_ZL_MASK | U_GC_ZP_MASK | U_GC_ZS_MASK;
    return u_hasBinaryProperty(code_point, UCHAR_GRAPHEME_EXTEND) ||
           (U_GET_GC_MASK(code_point) & kEscaped) != 0;
}

bool icu_is_alphabetic(UChar32 code_point) {
    return u_hasBinaryProperty(code_point, UCHAR_ALPHABETIC);
}

bool icu_is_numeric(UChar32 code_point) {
    return (U_GET_GC_MASK(code_point) & (U_GC_ND_MASK | U_GC_NL_MASK | U_GC_NO_MASK)) != 0;
}

struct Property {
    std::string_view name;
    bool (*ours)(char32_t);
    bool (*icu)(UChar32);
};

std::string as_code_point(char32_t code_point) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code_point));
    return text;
}

TEST(UnicodeProperties, AgreeWithIcuOnEveryCodePoint) {
    // Tables and ICU of different Unicode versions differ wherever a version
    // assigned characters; that is not a fault of the tables, and an ICU of
    // another version is no reference for them.
    UVersionInfo icu_version;
    u_getUnicodeVersion(icu_version);
    const unicode_tables::UnicodeVersion icu{icu_version[0], icu_version[1], icu_version[2]};
    const unicode_tables::UnicodeVersion& tables = unicode_tables::kVersion;
    if (!(icu == tables)) {
        GTEST_SKIP() << "ICU implements Unicode " << +icu.major << '.' << +icu.minor << '.'
                     << +icu.update << ", the tables are of Unicode " << +tables.major << '.'
                     << +tables.minor << '.' << +tables.update
                     << ": they are compared only with an ICU of their version";
    }

    const std::vector<Property> properties = {
        {"needs_escape_in_message", needs_escape_in_message, icu_needs_escape_in_message},
        {"is_alphabetic", is_alphabetic, icu_is_alphabetic},
        {"is_numeric", is_numeric, icu_is_numeric},
    };
    for (const Property& property : properties) {
        std::vector<char32_t> differing;
        for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
            if (property.ours(code_point) != property.icu(static_cast<UChar32>(code_point))) {
                differing.push_back(code_point);
            }
        }
        EXPECT_TRUE(differing.empty())
            << property.name << " differs from ICU at " << differing.size()
            << " code points, the first " << as_code_point(differing.front());
    }
}

}  // namespace
}  // namespace quillbox
