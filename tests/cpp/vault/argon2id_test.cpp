#include "vault/argon2id.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/vault_test_support.hpp"

namespace quillbox {
namespace {

using testing::to_hex;

constexpr std::array<unsigned char, kSaltSize> kSalt = {
    0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};

TEST(Argon2id, LibsodiumAndTheReferenceLibraryAgree) {
    struct Case {
        std::string_view password;
        KdfParams params;
    };
    const Case cases[] = {
        {"passphrase", {8, 1, 1}},  // the smallest memory cost
        {"", {8, 1, 1}},            // an empty passphrase
        {{}, {8, 2, 1}},            // an empty passphrase with no storage behind it
        {"pässwörd ✓", {9, 1, 1}},  // memory that is not a multiple of four blocks
        {"passphrase", {64, 3, 1}},
        {"passphrase", {1024, 2, 1}},
        {std::string_view("nul\0inside", 10), {256, 1, 1}},
    };
    for (const auto& c : cases) {
        const auto reference = argon2id_with_libargon2(c.password, kSalt, c.params);
        const auto fast = argon2id_with_libsodium(c.password, kSalt, c.params);
        ASSERT_TRUE(reference) << reference.error().to_text();
        ASSERT_TRUE(fast) << "libsodium declined m_cost " << c.params.m_cost;
        EXPECT_EQ(to_hex(fast->bytes()), to_hex(reference->bytes()))
            << "m_cost " << c.params.m_cost << ", t_cost " << c.params.t_cost;
        EXPECT_EQ(reference->size(), kArgon2OutputSize);
    }
}

TEST(Argon2id, SeveralLanesGoToTheReferenceLibrary) {
    const KdfParams two_lanes{32, 1, 2};
    EXPECT_FALSE(argon2id_with_libsodium("passphrase", kSalt, two_lanes));
    const auto reference = argon2id_with_libargon2("passphrase", kSalt, two_lanes);
    const auto chosen = argon2id("passphrase", kSalt, two_lanes);
    ASSERT_TRUE(reference && chosen);
    EXPECT_EQ(chosen->view(), reference->view());
}

}  // namespace
}  // namespace quillbox
