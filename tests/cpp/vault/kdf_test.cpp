#include "vault/kdf.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/core_error_printer.hpp"
#include "support/vault_test_support.hpp"
#include "vault/vault_vectors.hpp"

namespace quillbox {
namespace {

using testing::from_hex;
using testing::ScopedEnv;
using testing::to_hex;

constexpr std::array<unsigned char, kSaltSize> kSalt = {1, 2,  3,  4,  5,  6,  7,  8,
                                                        9, 10, 11, 12, 13, 14, 15, 16};
constexpr KdfParams kTiny{8, 1, 1};
constexpr const char* kVariable = "QUILLBOX_TEST_PASSPHRASE";

// The I/O message of a failed derivation.
std::string failure_message(const Result<VaultKeys>& keys) {
    if (keys) return "no error";
    const auto* message = std::get_if<errors::IoMessage>(&keys.error().detail());
    return message == nullptr ? keys.error().to_text() : message->message;
}

TEST(ReadMasterPassphrase, ReturnsTheValueOfTheVariable) {
    const ScopedEnv env(kVariable, "pässwörd");
    const auto passphrase = read_master_passphrase(kVariable);
    ASSERT_TRUE(passphrase);
    EXPECT_EQ(passphrase->view(), "pässwörd");
}

TEST(ReadMasterPassphrase, AcceptsAnEmptyValue) {
    const ScopedEnv env(kVariable, "");
    const auto passphrase = read_master_passphrase(kVariable);
    ASSERT_TRUE(passphrase);
    EXPECT_TRUE(passphrase->empty());
}

TEST(ReadMasterPassphrase, RefusesUnsetAndNonUtf8Alike) {
    const ScopedEnv not_utf8("QUILLBOX_TEST_NOT_UTF8", "ab\xff");
    const ScopedEnv unset(kVariable, std::nullopt);
    for (const std::string name : {kVariable, "QUILLBOX_TEST_NOT_UTF8"}) {
        const auto passphrase = read_master_passphrase(name);
        ASSERT_FALSE(passphrase) << name;
        EXPECT_EQ(passphrase.error(), CoreError(errors::EnvVarNotSet{name}));
    }
}

TEST(ReadMasterPassphrase, NeverRepeatsTextThatIsNoVariableName) {
    const ScopedEnv shadow("QUILLBOX_TEST_A", "B=not the passphrase");
    // A name with '=' or NUL would otherwise find a different variable; text
    // with a space is most likely the passphrase itself.
    const std::string names[] = {"QUILLBOX_TEST_A=B", std::string("QUILLBOX_TEST_A\0X", 17), "",
                                 "my pass phrase"};
    for (const auto& name : names) {
        const auto passphrase = read_master_passphrase(name);
        ASSERT_FALSE(passphrase) << name;
        EXPECT_EQ(passphrase.error(), CoreError(errors::InvalidVariableName{}));
    }
}

TEST(DeriveVaultKeys, MatchesTheIndependentImplementation) {
    for (const auto& vector : testing::vault_vectors()) {
        const auto passphrase = from_hex(vector.passphrase_hex);
        const auto salt = from_hex(vector.salt_hex);
        const auto keys = derive_vault_keys(
            testing::bytes_text(passphrase),
            std::span<const unsigned char, kSaltSize>(salt.data(), kSaltSize), vector.params);
        ASSERT_TRUE(keys) << vector.label << ": " << keys.error().to_text();
        EXPECT_EQ(to_hex(keys->encryption_key.bytes()), vector.encryption_key_hex) << vector.label;
        EXPECT_EQ(to_hex(keys->mac_key.bytes()), vector.mac_key_hex) << vector.label;
    }
}

TEST(DeriveVaultKeys, GivesTwoDifferentKeysThatDependOnTheSalt) {
    auto other_salt = kSalt;
    other_salt[0] ^= 1;
    const auto keys = derive_vault_keys("passphrase", kSalt, kTiny);
    const auto resalted = derive_vault_keys("passphrase", other_salt, kTiny);
    ASSERT_TRUE(keys && resalted);
    EXPECT_NE(keys->encryption_key.view(), keys->mac_key.view());
    EXPECT_NE(keys->encryption_key.view(), resalted->encryption_key.view());
}

TEST(DeriveVaultKeys, ChecksTheParametersInOrderBeforeHashing) {
    struct Case {
        KdfParams params;
        const char* reason;
    };
    const Case cases[] = {
        {{7, 1, 1}, "memory cost is too small"},
        {{16, 1, 3}, "memory cost is too small"},  // 16 < 8 × 3
        {{7, 0, 0}, "memory cost is too small"},
        {{8, 0, 1}, "time cost is too small"},
        {{8, 0, 0}, "time cost is too small"},
        {{8, 1, 0}, "not enough threads"},  // 8 × 0 = 0 passes the memory check
        {{1u << 27, 1, 1u << 24}, "too many threads"},
        // 8 × 2^29 wraps to 0 in 32 bits, so only the lane check catches it.
        {{8, 1, 1u << 29}, "too many threads"},
        // The cap comes after the four checks and before any memory is taken.
        {{4194305, 1, 1}, "memory cost is too large"},
        {{0xFFFFFFFF, 0xFFFFFFFF, 4}, "memory cost is too large"},
        {{0xFFFFFFFF, 0, 4}, "time cost is too small"},
        // Then the work: memory times passes, at most 16 GiB-passes.
        {{8, 0xFFFFFFFF, 1}, "memory cost times time cost is too large"},
        {{4194304, 100000, 1}, "memory cost times time cost is too large"},
        // Just beyond 1 GiB with 16 passes.
        {{(1u << 20) + 1, 16, 1}, "memory cost times time cost is too large"},
    };
    for (const auto& c : cases) {
        const auto keys = derive_vault_keys("passphrase", kSalt, c.params);
        EXPECT_EQ(failure_message(keys), std::string("argon2 params error: ") + c.reason)
            << c.params.m_cost << "/" << c.params.t_cost << "/" << c.params.p_cost;
    }
}

TEST(DeriveVaultKeys, RefusesAPasswordOfFourGibibytes) {
    // A lazily mapped, never touched region: the length alone must be refused.
    const std::size_t size = std::size_t{1} << 32;
    void* region =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    const auto keys =
        derive_vault_keys(std::string_view(static_cast<const char*>(region), size), kSalt, kTiny);
    munmap(region, size);
    EXPECT_EQ(failure_message(keys), "argon2 hash error: password is too long");
}

// Memory the library cannot get is a hash error for the caller, not a crash.
// The child runs under an address-space limit well below the 1 GiB asked for.
void derive_without_enough_memory(std::uint32_t lanes) {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256u << 20);
    const rlimit address_space{limit, limit};
    if (setrlimit(RLIMIT_AS, &address_space) != 0) std::_Exit(2);
    const auto keys = derive_vault_keys("passphrase", kSalt, {1u << 20, 1, lanes});
    const bool reported =
        !keys &&
        keys.error() == CoreError(errors::IoMessage{"argon2 hash error: Memory allocation error"});
    std::_Exit(reported ? 0 : 1);
}

// The child is a new run of this program, which reads the address sanitizer's
// options at its start: where the tests run sanitized, its allocator is told to
// return nothing, as the system's does, instead of ending the process.
TEST(DeriveVaultKeysDeathTest, ReportsMemoryThatCannotBeHadAsAHashError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
    const ScopedEnv null_when_out_of_memory(
        "ASAN_OPTIONS",
        std::string(sanitizer_options ? sanitizer_options : "") + ":allocator_may_return_null=1");
    for (const std::uint32_t lanes : {1u, 2u}) {
        EXPECT_EXIT(derive_without_enough_memory(lanes), ::testing::ExitedWithCode(0), "")
            << lanes << " lanes";
    }
}

}  // namespace
}  // namespace quillbox
