#include "core/key_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

namespace quillbox {
namespace {

struct KeyNameCase {
    std::string_view name;
    bool valid;
    std::optional<KeyNameViolation> violation;
};

TEST(KeyName, AcceptsOnlyAsciiIdentifiers) {
    const std::vector<KeyNameCase> cases = {
        {"A", true, std::nullopt},
        {"_", true, std::nullopt},
        {"API_TOKEN", true, std::nullopt},
        {"a1_B9", true, std::nullopt},
        {"_9x", true, std::nullopt},
        {"", false, std::nullopt},
        {"1A", false, KeyNameViolation{U'1', 0}},
        {"A-B", false, KeyNameViolation{U'-', 1}},
        {"A B", false, KeyNameViolation{U' ', 1}},
        {"\u00E9", false, KeyNameViolation{U'\u00E9', 0}},
        {"AB\u65E5C", false, KeyNameViolation{U'\u65E5', 2}},
        {"K\u0663", false, KeyNameViolation{U'\u0663', 1}},
    };
    for (const KeyNameCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(is_valid_key_name(c.name), c.valid);
        const std::optional<KeyNameViolation> violation = find_key_name_violation(c.name);
        ASSERT_EQ(violation.has_value(), c.violation.has_value());
        if (violation) {
            EXPECT_EQ(violation->character, c.violation->character);
            EXPECT_EQ(violation->position, c.violation->position);
        }
    }
}

}  // namespace
}  // namespace quillbox
