#include "vault/format.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/vault_test_support.hpp"
#include "vault/byte_order.hpp"
#include "vault/vault_vectors.hpp"

namespace quillbox {
namespace {

using testing::Bytes;
using testing::bytes_text;
using testing::from_hex;
using testing::make_entry;
using testing::ScopedEnv;
using testing::to_hex;

constexpr const char* kVariable = "QUILLBOX_TEST_PASSPHRASE";
constexpr KdfParams kTiny{8, 1, 1};

VaultEntries vector_entries(const testing::VaultVector& vector) {
    VaultEntries entries;
    for (const auto& entry : vector.entries) {
        entries.push_back(make_entry(bytes_text(from_hex(entry.name_hex)),
                                     bytes_text(from_hex(entry.value_hex))));
    }
    return entries;
}

// The random stream the independent implementation used: salt, then one nonce per entry.
Bytes vector_randomness(const testing::VaultVector& vector) {
    Bytes stream = from_hex(vector.salt_hex);
    for (const auto nonce : vector.nonce_hexes) {
        const auto bytes = from_hex(nonce);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

void expect_same_entries(const VaultEntries& actual, const VaultEntries& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].name, expected[i].name) << i;
        EXPECT_EQ(actual[i].value.view(), expected[i].value.view()) << i;
    }
}

TEST(EncodeVault, MatchesTheIndependentImplementationByteForByte) {
    for (const auto& vector : testing::vault_vectors()) {
        const auto image = encode_vault_with_passphrase(
            vector_entries(vector), vector.params, bytes_text(from_hex(vector.passphrase_hex)),
            testing::fixed_random(vector_randomness(vector)));
        ASSERT_TRUE(image) << vector.label << ": " << image.error().to_text();
        EXPECT_EQ(to_hex(*image), vector.image_hex) << vector.label;
    }
}

TEST(DecodeVault, ReadsTheIndependentImplementationsImages) {
    for (const auto& vector : testing::vault_vectors()) {
        const ScopedEnv env(kVariable, bytes_text(from_hex(vector.passphrase_hex)));
        const auto decoded = decode_vault(from_hex(vector.image_hex), kVariable);
        ASSERT_TRUE(decoded) << vector.label << ": " << decoded.error().to_text();
        expect_same_entries(decoded->entries, vector_entries(vector));
        EXPECT_EQ(decoded->params, vector.params) << vector.label;
    }
}

TEST(EncodeVault, WorkedLayoutOfOneEntryWithAnEmptyValue) {
    const Bytes image = from_hex(testing::vault_vector("one_empty_value").image_hex);
    ASSERT_EQ(image.size(), 173u);
    EXPECT_EQ(load_u32_le(image, 38), 1u);                         // entry_count
    EXPECT_EQ(load_u32_le(image, kEntryRecordsOffset + 12), 19u);  // sealed length of 01 00 41
    // The record spans 106..140 and the commit tag 141..172.
    EXPECT_EQ(kEntryRecordsOffset + 12 + 4 + 19, 141u);
    EXPECT_EQ(from_hex(testing::vault_vector("no_entries").image_hex).size(), kMinImageSize);
}

TEST(BuildHeader, PlacesEveryFieldAtItsOffset) {
    std::array<unsigned char, kSaltSize> salt{};
    for (std::size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<unsigned char>(0xc0 + i);
    const auto header = build_header({0x01020304, 0x05060708, 0x090a0b0c}, salt, 0xdeadbeef);
    EXPECT_EQ(to_hex(header),
              "5155494c4c424f58"  // QUILLBOX
              "0101"              // version 1, marker 1
              "04030201"
              "08070605"
              "0c0b0a09"                          // m_cost, t_cost, p_cost
              "c0c1c2c3c4c5c6c7c8c9cacbcccdcecf"  // salt
              "efbeadde"                          // entry_count
                  + std::string(64, '0'));        // reserved
}

TEST(EncodeVault, RoundTripsThroughTheVariableWithFreshSaltAndNonces) {
    const ScopedEnv env(kVariable, "roundtrip");
    VaultEntries entries;
    entries.push_back(make_entry("A", "one"));
    entries.push_back(make_entry("", ""));
    entries.push_back(make_entry("A", std::string("\0\xff", 2)));  // duplicates are kept
    const auto first = encode_vault(entries, kTiny, kVariable);
    const auto second = encode_vault(entries, kTiny, kVariable);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_NE(Bytes(first->begin() + 22, first->begin() + 38),
              Bytes(second->begin() + 22, second->begin() + 38));
    for (const auto* image : {&*first, &*second}) {
        const auto decoded = decode_vault(*image, kVariable);
        ASSERT_TRUE(decoded) << decoded.error().to_text();
        expect_same_entries(decoded->entries, entries);
        EXPECT_EQ(decoded->params, kTiny);
    }
}

TEST(EncodeVault, FailsWithoutAnImage) {
    VaultEntries entries;
    entries.push_back(make_entry("A", "1"));
    const VaultEntries long_name = [] {
        VaultEntries e;
        e.push_back(make_entry(std::string(65536, 'n'), "v"));
        return e;
    }();
    const ScopedEnv unset(kVariable, std::nullopt);
    struct Case {
        const char* what;
        Result<VaultImage> image;
        std::string text;
    };
    const Case cases[] = {
        {"unset variable", encode_vault(entries, kTiny, kVariable),
         std::string("master key error: environment variable ") + kVariable +
             " is not set — set it to the master passphrase before running quillbox"},
        {"no salt", encode_vault_with_passphrase(entries, kTiny, "pw", testing::fixed_random({})),
         "I/O error: RNG fill failed"},
        {"no nonce",
         encode_vault_with_passphrase(entries, kTiny, "pw", testing::fixed_random(Bytes(16, 1))),
         "I/O error: RNG fill failed"},
        {"bad params", encode_vault_with_passphrase(entries, {8, 0, 1}, "pw"),
         "I/O error: argon2 params error: time cost is too small"},
        {"long name", encode_vault_with_passphrase(long_name, kTiny, "pw"),
         "I/O error: entry name is too long for the vault format (65536 bytes, at most 65535) — "
         "use a shorter name"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.image) << c.what;
        EXPECT_EQ(c.image.error().to_text(), c.text) << c.what;
    }
}

}  // namespace
}  // namespace quillbox
