#include "vault/entry_cipher.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/core_error_printer.hpp"
#include "support/vault_test_support.hpp"
#include "vault/byte_order.hpp"

namespace quillbox {
namespace {

using testing::Bytes;
using testing::entries_of;

const Bytes kKey(kEncryptionKeySize, 0x42);

struct Record {
    std::array<unsigned char, kNonceSize> nonce;
    Bytes sealed;
};

// Splits records laid back to back into nonce and sealed data.
std::vector<Record> split_records(const Bytes& records) {
    std::vector<Record> out;
    for (std::size_t offset = 0; offset < records.size();) {
        Record record{};
        std::copy_n(records.begin() + offset, kNonceSize, record.nonce.begin());
        const std::size_t sealed_size = load_u32_le(records, offset + kNonceSize);
        const auto sealed_begin = records.begin() + offset + kRecordPrefixSize;
        record.sealed.assign(sealed_begin, sealed_begin + sealed_size);
        out.push_back(record);
        offset += kRecordPrefixSize + sealed_size;
    }
    return out;
}

TEST(SealEntries, LaysOutEachRecordAsNonceLengthAndSealedData) {
    const auto records = seal_entries(entries_of({{"A", ""}, {"", ""}, {"NAME", "value"}}), kKey);
    ASSERT_TRUE(records);
    // 12 + 4 + (2 + name + value) + 16 for each entry.
    EXPECT_EQ(records->size(), (16 + 3 + 16) + (16 + 2 + 16) + (16 + 11 + 16));
    const auto split = split_records(*records);
    ASSERT_EQ(split.size(), 3u);
    EXPECT_EQ(split[0].sealed.size(), 19u);
    EXPECT_EQ(split[1].sealed.size(), 18u);  // the 34-byte record of an empty name and value
    EXPECT_TRUE(seal_entries({}, kKey).value().empty());
}

TEST(SealEntries, OpensBackAtItsOwnIndexOnly) {
    const auto records =
        seal_entries(entries_of({{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}}), kKey);
    ASSERT_TRUE(records);
    const auto split = split_records(*records);
    const auto opened = open_entry(kKey, split[3].nonce, split[3].sealed, 3);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->view(), std::string_view("\x01\x00"
                                               "D4",
                                               4));
    for (const std::uint32_t wrong_index : {0u, 2u, 4u}) {
        EXPECT_FALSE(open_entry(kKey, split[3].nonce, split[3].sealed, wrong_index));
    }
}

TEST(SealEntries, DrawsAFreshNonceEveryTime) {
    const auto entries = entries_of({{"A", "same"}});
    const auto first = seal_entries(entries, kKey);
    const auto second = seal_entries(entries, kKey);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
}

TEST(SealEntries, ReturnsNothingWhenTheRandomSourceFails) {
    // Enough randomness for the first nonce only.
    const auto records = seal_entries(entries_of({{"A", "1"}, {"B", "2"}}), kKey,
                                      testing::fixed_random(Bytes(kNonceSize, 7)));
    ASSERT_FALSE(records);
    EXPECT_EQ(records.error(), CoreError(errors::IoMessage{"RNG fill failed"}));
}

TEST(SealEntries, RefusesAKeyOfTheWrongLength) {
    const auto records = seal_entries(entries_of({{"A", "1"}}), Bytes(16, 0x42));
    ASSERT_FALSE(records);
    EXPECT_EQ(records.error(), CoreError(errors::IoMessage{"AES-256-GCM key construction failed"}));
}

TEST(SealEntries, RefusesANameLongerThanItsLengthField) {
    EXPECT_TRUE(seal_entries(entries_of({{std::string(65535, 'N'), "v"}}), kKey));
    const auto records =
        seal_entries(entries_of({{"A", "1"}, {std::string(65536, 'N'), "v"}}), kKey);
    ASSERT_FALSE(records);
    EXPECT_EQ(records.error(),
              CoreError(errors::IoMessage{
                  "entry name is too long for the vault format (65536 bytes, at most 65535) — use "
                  "a shorter name"}));
}

TEST(SealedLengthFor, StopsWhereTheLengthFieldEnds) {
    EXPECT_EQ(sealed_length_for(0, 0), 18u);
    EXPECT_EQ(sealed_length_for(65535, 0xFFFFFFFFu - 18 - 65535), 0xFFFFFFFFu);
    EXPECT_FALSE(sealed_length_for(65535, 0xFFFFFFFFu - 18 - 65535 + 1));
    EXPECT_FALSE(sealed_length_for(0, std::size_t{1} << 40));
    EXPECT_FALSE(sealed_length_for(65536, 0));
}

TEST(OpenEntry, FailsForAnyChangedByte) {
    const auto records = seal_entries(entries_of({{"K", "v"}}), kKey);
    ASSERT_TRUE(records);
    const Record record = split_records(*records).front();
    ASSERT_TRUE(open_entry(kKey, record.nonce, record.sealed, 0));
    for (std::size_t i = 0; i < kNonceSize; ++i) {
        auto nonce = record.nonce;
        nonce[i] ^= 0x01;
        EXPECT_FALSE(open_entry(kKey, nonce, record.sealed, 0)) << "nonce byte " << i;
    }
    for (std::size_t i = 0; i < record.sealed.size(); ++i) {
        auto sealed = record.sealed;
        sealed[i] ^= 0x80;
        EXPECT_FALSE(open_entry(kKey, record.nonce, sealed, 0)) << "sealed byte " << i;
    }
    Bytes other_key = kKey;
    other_key[31] ^= 1;
    EXPECT_FALSE(open_entry(other_key, record.nonce, record.sealed, 0));
}

TEST(OpenEntry, FailsForSealedDataShorterThanATag) {
    const std::array<unsigned char, kNonceSize> nonce{};
    for (std::size_t size = 0; size < kGcmTagSize; ++size) {
        EXPECT_FALSE(open_entry(kKey, nonce, Bytes(size, 0), 0)) << size;
    }
}

TEST(OpenEntry, OpensAnEmptyPlaintext) {
    const std::array<unsigned char, kNonceSize> nonce{};
    const auto sealed = seal_plaintext(kKey, nonce, {}, 5);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(sealed->size(), kGcmTagSize);
    const auto opened = open_entry(kKey, nonce, *sealed, 5);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->empty());
}

}  // namespace
}  // namespace quillbox
