#include "vault/transfer.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/message_format.hpp"
#include "support/core_error_printer.hpp"
#include "support/release_watch.hpp"
#include "support/store_support.hpp"
#include "support/vault_test_support.hpp"
#include "vault/store.hpp"

namespace quillbox {
namespace {

using testing::entries_of;
using testing::kPassphraseVariable;
using testing::make_entry;
using testing::read_file;
using testing::ScopedEnv;
using testing::TempDir;
using Names = std::vector<std::string>;

std::vector<std::pair<std::string, std::string>> contents_of(const VaultEntries& entries) {
    std::vector<std::pair<std::string, std::string>> contents;
    for (const VaultEntry& entry : entries) {
        contents.emplace_back(entry.name, std::string(entry.value.view()));
    }
    return contents;
}

class Transfer : public ::testing::Test {
protected:
    VaultState open_with(const VaultEntries& entries) {
        testing::write_vault_file(vault_, entries);
        Result<VaultState> state = open_vault(kPassphraseVariable, vault_, false);
        if (!state) throw std::runtime_error(state.error().to_text());
        return std::move(*state);
    }

    TempDir dir_;
    ScopedEnv passphrase_{kPassphraseVariable, "correct horse"};
    std::filesystem::path vault_ = dir_ / "vault.bin";
};

TEST_F(Transfer, ExportIntoAMissingDirectoryMakesItPrivate) {
    const VaultState state = open_with(entries_of({{"A", "1"}, {"B", "2"}}));
    const std::string vault_before = read_file(vault_);
    const auto out = dir_ / "backups" / "nested" / "export.bin";
    // An export takes no lock: a save in another process does not hold it up.
    testing::LockHolder save_elsewhere(dir_ / "vault.bin.lock", "1234\n");

    ASSERT_TRUE(export_vault(state, out));
    EXPECT_EQ(testing::mode_of(out.parent_path()) & 0777, 0700u);
    EXPECT_EQ(testing::mode_of(out) & 0777, 0600u);
    EXPECT_EQ(contents_of(testing::read_vault_file(out)), contents_of(state.entries()));
    EXPECT_EQ(read_file(vault_), vault_before);
}

TEST_F(Transfer, ExportIntoAnExistingDirectoryKeepsItsMode) {
    const VaultState state = open_with(entries_of({{"A", "1"}}));
    const auto shared = dir_ / "shared";
    std::filesystem::create_directory(shared);
    ::chmod(shared.c_str(), 0755);

    ASSERT_TRUE(export_vault(state, shared / "first.bin"));
    ASSERT_TRUE(export_vault(state, shared / "second.bin"));
    EXPECT_EQ(testing::mode_of(shared) & 0777, 0755u);
    // Fresh salt and nonces every time, the same entries inside.
    EXPECT_NE(read_file(shared / "first.bin"), read_file(shared / "second.bin"));
    EXPECT_EQ(contents_of(testing::read_vault_file(shared / "first.bin")),
              contents_of(testing::read_vault_file(shared / "second.bin")));
    EXPECT_TRUE(open_vault(kPassphraseVariable, shared / "first.bin", false));
}

TEST_F(Transfer, ExportWithoutPassphraseMakesNoDirectory) {
    const VaultState state = open_with(entries_of({{"A", "1"}}));
    ScopedEnv unset(kPassphraseVariable, std::nullopt);
    const Status exported = export_vault(state, dir_ / "new" / "export.bin");
    ASSERT_FALSE(exported);
    EXPECT_EQ(exported.error().kind(), ErrorKind::EnvVarNotSet);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "new"));
}

TEST_F(Transfer, ImportCountsAddedSkippedAndReplaced) {
    struct Case {
        const char* label;
        VaultEntries vault;
        VaultEntries file;
        bool overwrite;
        ImportCounts counts;
        std::vector<std::pair<std::string, std::string>> result;
    };
    std::vector<Case> cases;
    cases.push_back({"same entries, keep",
                     entries_of({{"A", "1"}, {"B", "2"}}),
                     entries_of({{"A", "x"}, {"B", "y"}}),
                     false,
                     {0, 2, 0},
                     {{"A", "1"}, {"B", "2"}}});
    cases.push_back({"same entries, overwrite",
                     entries_of({{"A", "1"}, {"B", "2"}}),
                     entries_of({{"A", "x"}, {"B", "y"}}),
                     true,
                     {0, 0, 2},
                     {{"A", "x"}, {"B", "y"}}});
    cases.push_back({"merge",
                     entries_of({{"B", "b"}, {"C", "c"}}),
                     entries_of({{"A", "a"}, {"B", "other"}}),
                     false,
                     {1, 1, 0},
                     {{"B", "b"}, {"C", "c"}, {"A", "a"}}});
    cases.push_back({"name twice in the file",
                     entries_of({}),
                     entries_of({{"A", "first"}, {"A", "second"}}),
                     true,
                     {1, 0, 1},
                     {{"A", "second"}}});
    for (Case& c : cases) {
        SCOPED_TRACE(c.label);
        VaultState state = open_with(c.vault);
        const std::string before = read_file(vault_);
        testing::write_vault_file(dir_ / "import.bin", c.file);

        const Result<ImportCounts> counts =
            import_vault_file(state, dir_ / "import.bin", c.overwrite, std::nullopt);
        ASSERT_TRUE(counts) << counts.error().to_text();
        EXPECT_EQ(*counts, c.counts);
        EXPECT_EQ(contents_of(state.entries()), c.result);
        // The closing save runs even when nothing changed.
        EXPECT_NE(read_file(vault_), before);
        EXPECT_EQ(contents_of(testing::read_vault_file(vault_)), c.result);
    }
}

TEST_F(Transfer, ImportedValuesAreLockedAndReplacedOnesWiped) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    testing::ReleaseWatch replaced(state.find_value("A")->data());
    testing::write_vault_file(dir_ / "import.bin", entries_of({{"A", "one"}, {"B", "two"}}));

    ASSERT_TRUE(import_vault_file(state, dir_ / "import.bin", true, std::nullopt));

    ASSERT_TRUE(replaced.released());
    EXPECT_TRUE(replaced.was_zero_when_released());
    EXPECT_FALSE(state.find_value("A")->locked_into_memory());
    EXPECT_TRUE(state.find_value("B")->locked_into_memory());
}

TEST_F(Transfer, ImportReadsTheNamedVariable) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    {
        ScopedEnv other(kPassphraseVariable, "the import passphrase");
        testing::write_vault_file(dir_ / "import.bin", entries_of({{"B", "2"}}));
    }
    ScopedEnv import_key("QUILLBOX_TEST_IMPORT_KEY", "the import passphrase");
    const Result<ImportCounts> counts =
        import_vault_file(state, dir_ / "import.bin", false, "QUILLBOX_TEST_IMPORT_KEY");
    ASSERT_TRUE(counts) << counts.error().to_text();
    EXPECT_EQ(*counts, (ImportCounts{1, 0, 0}));
    // The vault itself stays under its own passphrase.
    EXPECT_TRUE(open_vault(kPassphraseVariable, vault_, false));

    const Result<ImportCounts> unset =
        import_vault_file(state, dir_ / "import.bin", false, "QUILLBOX_TEST_UNSET_IMPORT_KEY");
    ASSERT_FALSE(unset);
    EXPECT_EQ(unset.error(), CoreError(errors::EnvVarNotSet{"QUILLBOX_TEST_UNSET_IMPORT_KEY"}));
}

TEST_F(Transfer, MissingImportFileIsAnIoErrorThatNamesIt) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const auto absent = dir_ / "absent.bin";
    const Result<ImportCounts> counts = import_vault_file(state, absent, false, std::nullopt);
    ASSERT_FALSE(counts);
    EXPECT_EQ(counts.error(),
              CoreError(errors::OsError{ENOENT}).in_circumstance("opening " + quoted_path(absent)));
    EXPECT_EQ(list_entry_names(state), (Names{"A"}));
}

TEST_F(Transfer, ImportStoppedByTheLimitKeepsItsChangesUnsaved) {
    VaultEntries entries;
    for (std::size_t i = 0; i + 1 < kMaxVaultEntries; ++i) {
        entries.push_back(make_entry("K" + std::to_string(i), ""));
    }
    VaultState state = open_with(entries);
    const std::string before = read_file(vault_);
    testing::write_vault_file(dir_ / "import.bin", entries_of({{"NEW1", "1"}, {"NEW2", "2"}}));

    const Result<ImportCounts> counts =
        import_vault_file(state, dir_ / "import.bin", false, std::nullopt);
    ASSERT_FALSE(counts);
    EXPECT_EQ(counts.error().kind(), ErrorKind::EntryLimitExceeded);
    EXPECT_EQ(state.entries().size(), kMaxVaultEntries);
    EXPECT_EQ(state.entries().back().name, "NEW1");
    EXPECT_EQ(read_file(vault_), before);
}

}  // namespace
}  // namespace quillbox
