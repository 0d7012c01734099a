// Every way decode_vault refuses an image, in the order it checks, with the
// exact text the caller sees.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "support/vault_test_support.hpp"
#include "vault/byte_order.hpp"
#include "vault/entry_cipher.hpp"
#include "vault/format.hpp"
#include "vault/hmac_sha256.hpp"
#include "vault/vault_vectors.hpp"

namespace quillbox {
namespace {

using testing::Bytes;
using testing::bytes_text;
using testing::from_hex;

constexpr const char* kVariable = "QUILLBOX_TEST_PASSPHRASE";

std::string truncated(std::uint64_t expected, std::uint64_t found) {
    return "vault error: vault file is truncated — expected at least " + std::to_string(expected) +
           " bytes but found " + std::to_string(found) + " bytes";
}

const std::string kHeaderMacMismatch =
    "vault error: vault header HMAC mismatch — the vault header may have been tampered with or "
    "corrupted";
const std::string kCommitTagMismatch =
    "vault error: vault commit-tag HMAC mismatch — the vault file may have been tampered with, "
    "truncated, or corrupted";
const std::string kDecryptionFailed =
    "vault error: decryption failed — the master passphrase is incorrect or the vault is corrupt";

std::string entry_tag_mismatch(std::uint32_t index) {
    return "vault error: GCM authentication tag mismatch for entry at index " +
           std::to_string(index) + " — possible wrong passphrase or ciphertext corruption";
}

// A valid five-entry image made by the independent implementation, and the
// means to build variants of it whose tags are valid under its key.
class Valid {
public:
    const testing::VaultVector& vector = testing::vault_vector("several_entries");
    const Bytes image = from_hex(vector.image_hex);
    const std::string passphrase = bytes_text(from_hex(vector.passphrase_hex));

    // The entry records of the valid image, each nonce + length + sealed data.
    std::vector<Bytes> records() const {
        std::vector<Bytes> out;
        for (std::size_t p = kEntryRecordsOffset; p < image.size() - kMacSize;) {
            const std::size_t next = p + kRecordPrefixSize + load_u32_le(image, p + kNonceSize);
            out.emplace_back(image.begin() + p, image.begin() + next);
            p = next;
        }
        return out;
    }

    // An image with this entry_count and these bytes after the header MAC,
    // with both tags made under the right key.
    Bytes assemble(std::uint32_t entry_count, const std::vector<Bytes>& records) const {
        const Bytes salt = from_hex(vector.salt_hex);
        const auto header =
            build_header(vector.params, SaltView(salt.data(), kSaltSize), entry_count);
        Bytes out(header.begin(), header.end());
        append_mac(out);
        for (const auto& record : records) out.insert(out.end(), record.begin(), record.end());
        append_mac(out);
        return out;
    }

    // A record sealing an arbitrary plaintext for the given index.
    Bytes record_of(std::uint32_t index, std::string_view plaintext) const {
        const std::array<unsigned char, kNonceSize> nonce{};
        const auto sealed = seal_plaintext(
            from_hex(vector.encryption_key_hex), nonce,
            {reinterpret_cast<const unsigned char*>(plaintext.data()), plaintext.size()}, index);
        Bytes out(nonce.begin(), nonce.end());
        append_u32_le(out, static_cast<std::uint32_t>(sealed.value().size()));
        out.insert(out.end(), sealed->begin(), sealed->end());
        return out;
    }

private:
    void append_mac(Bytes& data) const {
        const auto mac = hmac_sha256(from_hex(vector.mac_key_hex), data).value();
        data.insert(data.end(), mac.begin(), mac.end());
    }
};

struct Case {
    std::string what;
    Bytes image;
    std::optional<std::string> passphrase;  // nothing: the variable is unset
    std::string text;
};

std::vector<Case> failure_cases() {
    const Valid valid;
    const auto& image = valid.image;
    const auto records = valid.records();
    const std::uint64_t records_end = image.size() - kMacSize;
    auto changed = [&](std::size_t offset, unsigned char value) {
        Bytes out = image;
        out[offset] = value;
        return out;
    };
    auto with_records = [&](std::uint32_t count, std::function<void(std::vector<Bytes>&)> edit) {
        auto edited = records;
        edit(edited);
        return valid.assemble(count, edited);
    };
    const auto no_edit = [](std::vector<Bytes>&) {};
    const auto five = static_cast<std::uint32_t>(records.size());

    std::vector<Case> cases = {
        {"137 bytes", Bytes(image.begin(), image.begin() + 137), std::nullopt, truncated(138, 137)},
        {"empty file", {}, std::nullopt, truncated(138, 0)},
        {"bad magic, no variable needed", changed(0, 'X'), std::nullopt,
         "vault error: vault file does not start with the expected magic bytes (found [88, 85, "
         "73, 76, 76, 66, 79, 88]) — this is not a quillbox vault file"},
        {"version 0", changed(8, 0), std::nullopt,
         "vault error: vault format version 0 is invalid — the vault file may be corrupt"},
        {"version 2", changed(8, 2), std::nullopt,
         "vault error: vault format version 2 is not supported by this binary (maximum "
         "supported: 1) — upgrade quillbox to open this vault"},
        {"version 7", changed(8, 7), std::nullopt,
         "vault error: vault format version 7 is not supported by this binary (maximum "
         "supported: 1) — upgrade quillbox to open this vault"},
        {"variable unset", image, std::nullopt,
         std::string("master key error: environment variable ") + kVariable +
             " is not set — set it to the master passphrase before running quillbox"},
        {"damaged memory cost, before authentication", changed(10, 7), valid.passphrase,
         "I/O error: argon2 params error: memory cost is too small"},
        {"hostile memory cost, refused before allocating", changed(13, 0xff), valid.passphrase,
         "I/O error: argon2 params error: memory cost is too large"},
        {"marker byte", changed(9, 2), valid.passphrase, kHeaderMacMismatch},
        {"wrong passphrase", image, "not the passphrase", kHeaderMacMismatch},
        {"one byte appended",
         [&] {
             Bytes out = image;
             out.push_back(0);
             return out;
         }(),
         valid.passphrase, kCommitTagMismatch},
        {"entry_count one more than the records", with_records(five + 1, no_edit), valid.passphrase,
         truncated(records_end + 12, image.size())},
        {"last record removed, entry_count kept", with_records(five, [](auto& r) { r.pop_back(); }),
         valid.passphrase,
         truncated(records_end - records.back().size() + 12, image.size() - records.back().size())},
        {"entry_count one less than the records", with_records(five - 1, no_edit), valid.passphrase,
         truncated(records_end, records_end - records.back().size())},
        {"13 bytes where a record should start",
         with_records(five + 1, [](auto& r) { r.push_back(Bytes(13, 0)); }), valid.passphrase,
         truncated(records_end + 16, image.size() + 13)},
        {"sealed length past the end",
         with_records(five + 1,
                      [](auto& r) {
                          Bytes prefix(kNonceSize, 0);
                          append_u32_le(prefix, 100);
                          prefix.resize(prefix.size() + 20);
                          r.push_back(prefix);
                      }),
         valid.passphrase, truncated(records_end + 16 + 100, image.size() + 36)},
        {"records 0 and 1 swapped", with_records(five, [](auto& r) { std::swap(r[0], r[1]); }),
         valid.passphrase, kDecryptionFailed},
        {"records 1 and 2 swapped", with_records(five, [](auto& r) { std::swap(r[1], r[2]); }),
         valid.passphrase, entry_tag_mismatch(1)},
    };
    // Every byte of both tags counts, the last as much as the first.
    for (const std::size_t at : {std::size_t{0}, kMacSize - 1}) {
        const std::string which = " byte " + std::to_string(at);
        cases.push_back({"header MAC" + which,
                         changed(kHeaderSize + at, image[kHeaderSize + at] ^ 1), valid.passphrase,
                         kHeaderMacMismatch});
        cases.push_back({"commit tag" + which,
                         changed(records_end + at, image[records_end + at] ^ 1), valid.passphrase,
                         kCommitTagMismatch});
    }
    for (const std::uint32_t index : {0u, 2u}) {
        cases.push_back({"sealed length 5 at index " + std::to_string(index),
                         with_records(five,
                                      [&](auto& r) {
                                          Bytes record(kNonceSize, 0);
                                          append_u32_le(record, 5);
                                          record.resize(record.size() + 5, 0xaa);
                                          r[index] = record;
                                      }),
                         valid.passphrase, index == 0 ? kDecryptionFailed : entry_tag_mismatch(2)});
    }
    const struct {
        const char* what;
        std::string_view plaintext;
        std::string text;
    } plaintexts[] = {
        {"plaintext of 1 byte", std::string_view("\x01", 1), truncated(2, 1)},
        {"name length past the plaintext",
         std::string_view("\x05\x00"
                          "A",
                          3),
         truncated(7, 3)},
        {"name not UTF-8", std::string_view("\x01\x00\xff", 3),
         "I/O error: key name is not valid UTF-8"},
    };
    for (const auto& p : plaintexts) {
        cases.push_back({p.what, valid.assemble(1, {valid.record_of(0, p.plaintext)}),
                         valid.passphrase, p.text});
    }
    return cases;
}

TEST(DecodeVault, RefusesEachDamageWithItsOwnError) {
    for (const auto& c : failure_cases()) {
        const testing::ScopedEnv env(kVariable, c.passphrase);
        const auto decoded = decode_vault(c.image, kVariable);
        ASSERT_FALSE(decoded) << c.what;
        EXPECT_EQ(decoded.error().to_text(), c.text) << c.what;
    }
}

TEST(DecodeVault, AcceptsAnEmptyNameAndAnEmptyValue) {
    const Valid valid;
    const testing::ScopedEnv env(kVariable, valid.passphrase);
    const auto decoded = decode_vault(
        valid.assemble(1, {valid.record_of(0, std::string_view("\0\0", 2))}), kVariable);
    ASSERT_TRUE(decoded) << decoded.error().to_text();
    ASSERT_EQ(decoded->entries.size(), 1u);
    EXPECT_EQ(decoded->entries[0].name, "");
    EXPECT_TRUE(decoded->entries[0].value.empty());
}

}  // namespace
}  // namespace quillbox
