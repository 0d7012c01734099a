#include "vault/constant_time.hpp"

#include <gtest/gtest.h>

#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {
namespace {

bool equal(std::string_view a, std::string_view b) {
    return equal_in_constant_time(SecretBytes(a).bytes(), SecretBytes(b).bytes());
}

// Only equal bytes of equal length are equal: a string is never equal to its
// own prefix, though every byte the shorter one has matches.
TEST(ConstantTime, EqualOnlyForTheSameBytesOfTheSameLength) {
    struct Case {
        std::string_view a;
        std::string_view b;
        bool equal;
    };
    const Case cases[] = {
        {"", "", true},
        {"correct horse", "correct horse", true},
        {"correct horse", "correct horsf", false},
        {"correct horse", "dorrect horse", false},
        {"correct horse", "correct horse battery", false},
        {"", "x", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(equal(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(equal(c.b, c.a), c.equal) << c.b << " / " << c.a;
    }
}

}  // namespace
}  // namespace quillbox
