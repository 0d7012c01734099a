#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "vault/store.hpp"
#include "vault/store_support.hpp"
#include "vault/test_support.hpp"

namespace quillbox {
namespace {

using testing::kPassphraseVariable;

const std::filesystem::path kSourceRoot =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path();

// The project's virtual environment when there is one, else the system's interpreter.
std::string python() {
    const auto venv = kSourceRoot / ".venv" / "bin" / "python";
    return std::filesystem::exists(venv) ? venv.string() : "python3";
}

struct Reading {
    int exit_code;
    std::string output;
};

Reading read_with_independent_implementation(const std::filesystem::path& vault) {
    const std::string command = "'" + python() + "' '" +
                                (kSourceRoot / "tests/fixtures/read_vault_image.py").string() +
                                "' '" + vault.string() + "' " + kPassphraseVariable;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, ""};
    std::string output;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(StoreInterop, VaultSavedHereDecodesWithTheIndependentImplementation) {
    testing::TempDir dir;
    const auto vault = dir / "vault.bin";
    testing::ScopedEnv passphrase(kPassphraseVariable, "p\u00e4ss phrase");
    VaultEntries first;
    first.push_back(testing::make_entry("A", "1"));
    first.push_back(testing::make_entry("B", "2"));
    testing::write_vault_file(vault, first);

    Result<VaultState> state = open_vault(kPassphraseVariable, vault, false);
    ASSERT_TRUE(state) << state.error().to_text();
    ASSERT_TRUE(set_entry(*state, "TOKEN", SecretBytes(std::string_view("s3cr\0t\xff", 7))));
    ASSERT_TRUE(set_entry(*state, "A", SecretBytes(std::string_view(""))));
    ASSERT_TRUE(delete_entry(*state, "B"));

    const Reading reading = read_with_independent_implementation(vault);
    if (reading.exit_code == 77) {
        GTEST_SKIP() << "the independent implementation needs argon2-cffi and cryptography";
    }
    ASSERT_EQ(reading.exit_code, 0);
    EXPECT_EQ(reading.output,
              "8 1 1\n"
              "41 \n"
              "544f4b454e 733363720074ff\n");
}

}  // namespace
}  // namespace quillbox
