#include "vault/store.hpp"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/core_error_printer.hpp"
#include "support/fake_clock.hpp"
#include "support/release_watch.hpp"
#include "support/store_support.hpp"
#include "support/vault_test_support.hpp"
#include "vault/format.hpp"
#include "vault/kdf.hpp"
#include "vault/lockfile.hpp"
#include "vault/transfer.hpp"
#include "vault/vault_vectors.hpp"

namespace quillbox {
namespace {

using testing::entries_of;
using testing::kPassphraseVariable;
using testing::make_entry;
using testing::read_file;
using testing::ScopedEnv;
using testing::TempDir;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

SecretBytes secret(std::string_view value) {
    return SecretBytes(value);
}

class Store : public ::testing::Test {
protected:
    VaultState open_existing(bool allow_insecure_permissions = false) {
        Result<VaultState> state =
            open_vault(kPassphraseVariable, vault_, allow_insecure_permissions);
        if (!state) throw std::runtime_error(state.error().to_text());
        return std::move(*state);
    }

    VaultState open_with(const VaultEntries& entries) {
        testing::write_vault_file(vault_, entries);
        return open_existing();
    }

    TempDir dir_;
    ScopedEnv passphrase_{kPassphraseVariable, "correct horse"};
    std::filesystem::path vault_ = dir_ / "vault.bin";
};

TEST(DefaultVaultPath, FollowsHomeOrFallsBackToTmp) {
    struct Case {
        std::optional<std::string> home;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"/home/ada", "/home/ada/.local/share/quillbox/vault.bin"},
        {std::nullopt, "/tmp/.local/share/quillbox/vault.bin"},
        {"", ".local/share/quillbox/vault.bin"},
        {"/home/\xff", "/tmp/.local/share/quillbox/vault.bin"},
    };
    for (const Case& c : cases) {
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(default_vault_path().native(), c.path);
    }
}

TEST_F(Store, MissingVaultIsNotFound) {
    const Result<VaultState> state = open_vault(kPassphraseVariable, vault_, false);
    ASSERT_FALSE(state);
    EXPECT_EQ(state.error(), CoreError(errors::VaultNotFound{vault_}));
}

TEST_F(Store, GroupReadableVaultIsRefusedUnlessAllowedAndSavedPrivate) {
    testing::write_vault_file(vault_, entries_of({{"A", "1"}}), kPassphraseVariable, 0640);

    const Result<VaultState> refused = open_vault(kPassphraseVariable, vault_, false);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), CoreError(errors::InsecurePermissions{vault_, 0100640}));

    VaultState state = open_existing(true);
    ASSERT_TRUE(set_entry(state, "B", secret("2")));
    EXPECT_EQ(testing::mode_of(vault_) & 0777, 0600u);
}

TEST_F(Store, OwnerOnlyModesOpen) {
    for (const mode_t mode : {0400, 0500, 0700}) {
        testing::write_vault_file(vault_, entries_of({{"A", "1"}}), kPassphraseVariable, mode);
        EXPECT_TRUE(open_vault(kPassphraseVariable, vault_, false)) << std::oct << mode;
        ::chmod(vault_.c_str(), 0600);
    }
}

TEST_F(Store, AVaultWhoseLockfileCannotBeMadeOpensButIsNotSaved) {
    const auto shut = dir_ / "shut";
    std::filesystem::create_directory(shut);
    testing::write_vault_file(shut / "vault.bin", entries_of({{"A", "1"}}));
    testing::hand_to_unprivileged_user(dir_.path());
    testing::hand_to_unprivileged_user(shut / "vault.bin");
    ::chmod(shut.c_str(), 0555);
    const std::string before = read_file(shut / "vault.bin");

    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        testing::become_unprivileged_user();
        Result<VaultState> state = open_vault(kPassphraseVariable, shut / "vault.bin", false);
        if (!state) return 1;
        const Status set = set_entry(*state, "B", secret("2"));
        return !set && set.error().kind() == ErrorKind::OsError ? 0 : 2;
    });
    EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
    EXPECT_EQ(read_file(shut / "vault.bin"), before);
}

// Writers killed before they could clean up leave temporary files; a save
// removes those that nobody holds locked. A writer at work holds its file,
// whatever its name says: here it names a process that no longer exists, as
// the name of a writer in another PID namespace may look from here.
TEST_F(Store, SaveRemovesOnlyTheTemporaryFilesThatNoWriterHolds) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const std::string dead = std::to_string(testing::reaped_pid());
    const auto left = dir_ / ("vault.bin.tmp." + dead + ".0123456789abcdef");
    const auto held = dir_ / ("vault.bin.tmp." + dead + ".fedcba9876543210");
    const auto unrelated = dir_ / "vault.bin.tmp.notapid";
    testing::write_file(left, "left by a killed writer");
    testing::write_file(unrelated, "not a writer's");
    const testing::LockHolder writer(held, "a live writer's");

    ASSERT_TRUE(set_entry(state, "B", secret("2")));
    EXPECT_FALSE(std::filesystem::exists(left));
    EXPECT_EQ(read_file(held), "a live writer's");
    EXPECT_TRUE(std::filesystem::exists(unrelated));
}

// On a read-only file system a vault opens, with a shared lock where a
// lockfile exists and without one where none can be made, and a save says
// why it cannot be done.
TEST_F(Store, AVaultOnAReadOnlyFileSystemOpensAndRefusesToSave) {
    const auto mount_point = dir_ / "readonly";
    std::filesystem::create_directory(mount_point);
    if (::mount("quillbox-test", mount_point.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "mounting a file system needs a privilege these tests lack";
    }
    struct Unmount {
        std::filesystem::path path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mount_point};
    const auto with_lockfile = mount_point / "locked.bin";
    const auto without_lockfile = mount_point / "unlocked.bin";
    for (const auto& path : {with_lockfile, without_lockfile}) {
        testing::write_vault_file(path, entries_of({{"A", "1"}}));
    }
    testing::write_file(lockfile_path(with_lockfile), "");
    ASSERT_EQ(::mount(nullptr, mount_point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

    for (const auto& path : {with_lockfile, without_lockfile}) {
        SCOPED_TRACE(path);
        Result<VaultState> state = open_vault(kPassphraseVariable, path, false);
        ASSERT_TRUE(state) << state.error().to_text();
        EXPECT_EQ(list_entry_names(*state), (Names{"A"}));
        const Status set = set_entry(*state, "B", secret("2"));
        ASSERT_FALSE(set);
        EXPECT_TRUE(set.error().is_os_error({EROFS})) << set.error().to_text();
        EXPECT_NE(set.error().circumstance().find(lockfile_path(path).string()), std::string::npos);
    }
}

TEST_F(Store, UnsetPassphraseVariableFailsTheOpen) {
    testing::write_vault_file(vault_, entries_of({{"A", "1"}}));
    ScopedEnv unset(kPassphraseVariable, std::nullopt);
    const Result<VaultState> state = open_vault(kPassphraseVariable, vault_, false);
    ASSERT_FALSE(state);
    EXPECT_EQ(state.error().kind(), ErrorKind::EnvVarNotSet);
}

TEST_F(Store, OpenKeepsTheFileOrderAndLocksEveryValue) {
    const VaultState state = open_with(entries_of({{"B", "2"}, {"A", ""}, {"C", "33"}}));
    EXPECT_EQ(state.vault_path(), vault_);
    EXPECT_EQ(state.master_key_env(), kPassphraseVariable);
    EXPECT_EQ(state.kdf_params(), testing::kTinyParams);
    EXPECT_EQ(list_entry_names(state), (Names{"B", "A", "C"}));
    for (const VaultEntry& entry : state.entries()) {
        EXPECT_TRUE(entry.value.locked_into_memory()) << entry.name;
    }
}

TEST_F(Store, SetReplacesInPlaceAppendsNewNamesAndSavesAtOnce) {
    VaultState state = open_with(entries_of({{"A", "1"}, {"B", "2"}}));
    const std::string before = read_file(vault_);

    ASSERT_TRUE(set_entry(state, "A", secret("one")));
    ASSERT_TRUE(set_entry(state, "C", secret("3")));

    EXPECT_EQ(list_entry_names(state), (Names{"A", "B", "C"}));
    EXPECT_NE(read_file(vault_), before);
    const VaultEntries saved = testing::read_vault_file(vault_);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].value.view(), "one");
    EXPECT_EQ(saved[2].value.view(), "3");
    EXPECT_EQ(read_file(dir_ / "vault.bin.lock"), "");
}

TEST_F(Store, BadKeyNamesFailBeforeAnythingChanges) {
    struct Case {
        std::string name;
        CoreError error;
    };
    const std::vector<Case> cases = {
        {"", errors::EmptyKeyName{}},
        {"1A", errors::RejectedMetacharacter{U'1', 0}},
        {"A-B", errors::RejectedMetacharacter{U'-', 1}},
        {"K\u00e9\u00e9", errors::RejectedMetacharacter{U'\u00e9', 1}},
    };
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const std::string before = read_file(vault_);
    for (const Case& c : cases) {
        const Status set = set_entry(state, c.name, secret("x"));
        ASSERT_FALSE(set) << c.name;
        // The key-name rule follows as the error's circumstance.
        EXPECT_EQ(set.error().detail(), c.error.detail());
    }
    EXPECT_EQ(list_entry_names(state), (Names{"A"}));
    EXPECT_EQ(read_file(vault_), before);
}

TEST_F(Store, FullVaultRefusesNewNamesOnly) {
    VaultEntries entries;
    for (std::size_t i = 0; i < kMaxVaultEntries; ++i) {
        entries.push_back(make_entry("K" + std::to_string(i), ""));
    }
    VaultState state = open_with(entries);
    const std::string before = read_file(vault_);

    const Status refused = set_entry(state, "NEW", secret("x"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), CoreError(errors::EntryLimitExceeded{kMaxVaultEntries}));
    EXPECT_EQ(state.entries().size(), kMaxVaultEntries);
    EXPECT_EQ(read_file(vault_), before);

    EXPECT_TRUE(set_entry(state, "K9999", secret("x")));
}

TEST_F(Store, DeleteClosesTheGapAndSavesButAMissingNameChangesNothing) {
    VaultState state = open_with(entries_of({{"A", "1"}, {"B", "2"}, {"C", "3"}}));
    const std::string before = read_file(vault_);
    struct stat untouched{};
    ::stat(vault_.c_str(), &untouched);

    const Result<bool> missing = delete_entry(state, "Z");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(*missing);
    struct stat after{};
    ::stat(vault_.c_str(), &after);
    EXPECT_EQ(read_file(vault_), before);
    EXPECT_EQ(after.st_mtim.tv_sec, untouched.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, untouched.st_mtim.tv_nsec);

    const Result<bool> deleted = delete_entry(state, "B");
    ASSERT_TRUE(deleted);
    EXPECT_TRUE(*deleted);
    EXPECT_EQ(list_entry_names(state), (Names{"A", "C"}));
    EXPECT_EQ(testing::read_vault_file(vault_).size(), 2u);
}

TEST_F(Store, ReplacedAndDeletedValuesAreWipedAndSetValuesStayUnlocked) {
    VaultState state = open_with(entries_of({{"A", "1"}, {"B", "2"}, {"C", "3"}}));
    const auto expect_wiped_by = [&](std::string_view name, auto change) {
        testing::ReleaseWatch watch(state.find_value(name)->data());
        ASSERT_TRUE(change());
        ASSERT_TRUE(watch.released()) << name;
        EXPECT_TRUE(watch.was_zero_when_released()) << name;
    };
    expect_wiped_by("B", [&] { return bool(set_entry(state, "B", secret("two"))); });
    expect_wiped_by("A", [&] { return bool(delete_entry(state, "A")); });
    EXPECT_FALSE(state.find_value("B")->locked_into_memory());
    EXPECT_TRUE(state.find_value("C")->locked_into_memory());
}

TEST_F(Store, FailedSaveKeepsTheChangeInMemoryAndTheOldFile) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const std::string before = read_file(vault_);
    ScopedEnv unset(kPassphraseVariable, std::nullopt);

    const Status set = set_entry(state, "B", secret("2"));
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error(), CoreError(errors::EnvVarNotSet{kPassphraseVariable}));
    EXPECT_EQ(list_entry_names(state), (Names{"A", "B"}));
    EXPECT_EQ(read_file(vault_), before);
}

// Two states of one file stand for two processes: each save finds the file
// changed by the other, and makes its own change again on what it holds.
TEST_F(Store, SavesMergeWhatAnotherWriterSavedMeanwhile) {
    testing::write_vault_file(vault_, entries_of({{"X", "x"}}));
    VaultState first = open_existing();
    VaultState second = open_existing();
    const auto values_in_file = [&] {
        std::vector<std::pair<std::string, std::string>> values;
        for (const VaultEntry& entry : testing::read_vault_file(vault_)) {
            values.emplace_back(entry.name, entry.value.view());
        }
        return values;
    };
    using Values = std::vector<std::pair<std::string, std::string>>;

    ASSERT_TRUE(set_entry(first, "A", secret("1")));
    ASSERT_TRUE(set_entry(second, "B", secret("2")));
    EXPECT_EQ(values_in_file(), (Values{{"X", "x"}, {"A", "1"}, {"B", "2"}}));
    ASSERT_TRUE(delete_entry(first, "X").value());
    EXPECT_EQ(values_in_file(), (Values{{"A", "1"}, {"B", "2"}}));
    // A name deleted elsewhere does not come back, and of two values set for
    // one name the later save's stays.
    ASSERT_TRUE(set_entry(second, "A", secret("3")));
    EXPECT_EQ(values_in_file(), (Values{{"A", "3"}, {"B", "2"}}));
    // Each state is what it last wrote.
    EXPECT_EQ(list_entry_names(first), (Names{"A", "B"}));
    EXPECT_EQ(list_entry_names(second), (Names{"A", "B"}));
    EXPECT_EQ(second.entries()[0].value.view(), "3");
}

TEST_F(Store, AChangedFileThatCannotBeReadFailsTheSaveAndKeepsBoth) {
    VaultState first = open_with(entries_of({{"A", "1"}}));
    {
        VaultState second = open_existing();
        ScopedEnv other(kPassphraseVariable, "another passphrase");
        ASSERT_TRUE(set_entry(second, "B", secret("2")));
    }
    const std::string before = read_file(vault_);

    const Status set = set_entry(first, "C", secret("3"));
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error(), CoreError(errors::HeaderMacMismatch{})
                               .in_circumstance(std::string(kUnmergedSaveCircumstance)));
    EXPECT_EQ(read_file(vault_), before);
    EXPECT_EQ(list_entry_names(first), (Names{"A", "C"}));
}

// The commit tag tells a save whether the file is still the one the state
// read; any byte of it that differs means it is not, however much of the tag
// is the same. Here the difference is damage, which the save then finds.
TEST_F(Store, AFileWhoseCommitTagChangedInItsLastByteIsNotOverwritten) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    std::string damaged = read_file(vault_);
    damaged.back() = static_cast<char>(damaged.back() ^ 1);
    testing::write_file(vault_, damaged);

    const Status set = set_entry(state, "B", secret("2"));
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error(), CoreError(errors::CommitTagMismatch{})
                               .in_circumstance(std::string(kUnmergedSaveCircumstance)));
    EXPECT_EQ(read_file(vault_), damaged);
}

TEST_F(Store, SaveRekeysUnderTheCurrentPassphrase) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    {
        ScopedEnv changed(kPassphraseVariable, "a new passphrase");
        ASSERT_TRUE(set_entry(state, "B", secret("2")));
        EXPECT_TRUE(open_vault(kPassphraseVariable, vault_, false));
    }
    const Result<VaultState> with_old = open_vault(kPassphraseVariable, vault_, false);
    ASSERT_FALSE(with_old);
    EXPECT_EQ(with_old.error().kind(), ErrorKind::HeaderMacMismatch);
}

constexpr const char* kNewPassphraseVariable = "QUILLBOX_STORE_TEST_NEW_PASSPHRASE";

// Another process's change since the state read the file is taken in, under
// the old passphrase; the file is then the new passphrase's and costs' alone,
// and the state reads the new variable from then on.
TEST_F(Store, RekeyWritesEveryEntryUnderTheNewPassphraseAndCostsTakingInOtherChanges) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    {
        VaultState other = open_existing();
        ASSERT_TRUE(set_entry(other, "B", secret("2")));
    }
    const ScopedEnv new_passphrase(kNewPassphraseVariable, "a new passphrase");
    const KdfParams new_params{16, 2, 1};
    ASSERT_TRUE(rekey_vault(state, kNewPassphraseVariable, new_params));

    EXPECT_EQ(open_vault(kPassphraseVariable, vault_, false).error().kind(),
              ErrorKind::HeaderMacMismatch);
    const Result<VaultState> reopened = open_vault(kNewPassphraseVariable, vault_, false);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->kdf_params(), new_params);
    EXPECT_EQ(list_entry_names(*reopened), (Names{"A", "B"}));
    EXPECT_EQ(reopened->entries()[1].value.view(), "2");
    EXPECT_EQ(state.master_key_env(), kNewPassphraseVariable);
    EXPECT_EQ(state.kdf_params(), new_params);
    // The old variable no longer matters to the state.
    const ScopedEnv old_gone(kPassphraseVariable, std::nullopt);
    ASSERT_TRUE(set_entry(state, "C", secret("3")));
    EXPECT_EQ(testing::read_vault_file(vault_, kNewPassphraseVariable).size(), 3u);
}

TEST_F(Store, AFailedRekeyKeepsTheOldPassphraseCostsAndFile) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const std::string before = read_file(vault_);
    const KdfParams too_costly{kMaxMemoryCostKib, 5, 1};
    const ScopedEnv new_passphrase(kNewPassphraseVariable, "a new passphrase");
    for (const auto& [variable, params] :
         {std::pair{"QUILLBOX_STORE_TEST_UNSET", testing::kTinyParams},
          std::pair{kNewPassphraseVariable, too_costly}}) {
        SCOPED_TRACE(variable);
        EXPECT_FALSE(rekey_vault(state, variable, params));
        EXPECT_EQ(read_file(vault_), before);
        EXPECT_EQ(state.master_key_env(), kPassphraseVariable);
        EXPECT_EQ(state.kdf_params(), testing::kTinyParams);
    }
}

TEST_F(Store, CloseWipesOnceAndThenDoesNothing) {
    std::optional<VaultState> state = open_with(entries_of({{"A", "a value long enough"}}));
    testing::ReleaseWatch watch(state->entries()[0].value.data());

    ::testing::internal::CaptureStderr();
    close_vault(state);
    close_vault(state);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    EXPECT_FALSE(state.has_value());
    EXPECT_TRUE(watch.released());
    EXPECT_TRUE(watch.was_zero_when_released());
}

TEST_F(Store, OpensVaultsWrittenByTheIndependentImplementation) {
    for (const testing::VaultVector& vector : testing::vault_vectors()) {
        SCOPED_TRACE(vector.label);
        const testing::Bytes image = testing::from_hex(vector.image_hex);
        testing::write_file(vault_, testing::bytes_text(image));
        ::chmod(vault_.c_str(), 0600);
        ScopedEnv passphrase(kPassphraseVariable,
                             testing::bytes_text(testing::from_hex(vector.passphrase_hex)));

        const VaultState state = open_existing();
        EXPECT_EQ(state.kdf_params(), vector.params);
        ASSERT_EQ(state.entries().size(), vector.entries.size());
        for (std::size_t i = 0; i < vector.entries.size(); ++i) {
            EXPECT_EQ(state.entries()[i].name,
                      testing::bytes_text(testing::from_hex(vector.entries[i].name_hex)));
            EXPECT_EQ(state.entries()[i].value.view(),
                      testing::bytes_text(testing::from_hex(vector.entries[i].value_hex)));
        }
    }
}

// The save's wait for the full lock timeout, on a clock that moves on as the
// save sleeps.
TEST_F(Store, SaveGivesUpAfterThirtySecondsAndWritesNothing) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const std::string before = read_file(vault_);
    const auto lockfile = dir_ / "vault.bin.lock";
    // A lone process ID is no record: such a lock is never taken for stale.
    testing::LockHolder holder(lockfile, "1234\n");
    testing::FakeClock clock;

    const Status set = set_entry(state, "B", secret("2"), clock);
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error(), CoreError(errors::LockTimeout{lockfile, 30}));
    EXPECT_EQ(clock.elapsed(), 30s);
    EXPECT_EQ(read_file(vault_), before);
    EXPECT_EQ(read_file(lockfile), "1234\n");
    EXPECT_EQ(list_entry_names(state), (Names{"A", "B"}));
}

// Every other operation that waits for the lockfile waits on the clock it is
// given too, so that none of them holds a test for half a minute.
TEST_F(Store, EveryLockWaitGivesUpAfterThirtySecondsOfTheClockItIsGiven) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const auto import_file = dir_ / "import.bin";
    testing::write_vault_file(import_file, entries_of({{"B", "2"}}));
    const std::string before = read_file(vault_);
    const auto lockfile = dir_ / "vault.bin.lock";
    testing::LockHolder holder(lockfile, "1234\n");
    const auto status_of = [](const auto& result) -> Status {
        if (!result) return fail(result.error());
        return {};
    };
    const std::pair<const char*, std::function<Status(Clock&)>> waits[] = {
        {"open",
         [&](Clock& clock) {
             return status_of(open_vault(kPassphraseVariable, vault_, false, clock));
         }},
        {"delete", [&](Clock& clock) { return status_of(delete_entry(state, "A", clock)); }},
        {"import",
         [&](Clock& clock) {
             return status_of(import_vault_file(state, import_file, false, std::nullopt, clock));
         }},
    };
    for (const auto& [operation, wait] : waits) {
        testing::FakeClock clock;
        const Status waited = wait(clock);
        ASSERT_FALSE(waited) << operation;
        EXPECT_EQ(waited.error(), CoreError(errors::LockTimeout{lockfile, 30})) << operation;
        EXPECT_EQ(clock.elapsed(), 30s) << operation;
        EXPECT_EQ(read_file(vault_), before) << operation;
    }
}

// Another state of the same file stands for another process: each change it
// saves is in this state after its next refresh, which makes a new state of
// it, and nothing else does.
TEST_F(Store, RefreshTakesInWhatAnotherProcessSaved) {
    struct Case {
        std::string what;
        std::function<Status(VaultState&)> elsewhere;
        Names names;
        std::string value_of_a;
    };
    const std::vector<Case> cases = {
        {"a new name", [](VaultState& s) { return set_entry(s, "B", secret("2")); },
         Names{"A", "B"}, "1"},
        {"a rotation", [](VaultState& s) { return set_entry(s, "A", secret("rotated")); },
         Names{"A"}, "rotated"},
        {"a delete",
         [](VaultState& s) -> Status {
             const Result<bool> deleted = delete_entry(s, "A");
             if (!deleted) return fail(deleted.error());
             return {};
         },
         Names{}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VaultState state = open_with(entries_of({{"A", "1"}}));
        ASSERT_TRUE(refresh_vault(state));
        const std::uint64_t unchanged = state.revision();
        ASSERT_TRUE(refresh_vault(state));
        EXPECT_EQ(state.revision(), unchanged);
        {
            VaultState other = open_existing();
            ASSERT_TRUE(c.elsewhere(other));
        }

        ASSERT_TRUE(refresh_vault(state));
        EXPECT_NE(state.revision(), unchanged);
        EXPECT_EQ(list_entry_names(state), c.names);
        const SecretBytes* a = state.find_value("A");
        EXPECT_EQ(a == nullptr ? "" : std::string(a->view()), c.value_of_a);
        // A save that follows finds the file as the state read it, and merges nothing.
        ASSERT_TRUE(set_entry(state, "C", secret("3")));
        Names saved = c.names;
        saved.push_back("C");
        EXPECT_EQ(list_entry_names(state), saved);
    }
}

// A file that can no longer be read fails the refresh with what an open would
// say, and the state stays as it was; once the file is back, a refresh works.
TEST_F(Store, RefreshOfAFileThatCannotBeReadFailsAndKeepsTheState) {
    struct Case {
        std::string what;
        std::function<void()> spoil;
        CoreError error;
    };
    const std::vector<Case> cases = {
        {"removed", [&] { std::filesystem::remove(vault_); }, errors::VaultNotFound{vault_}},
        {"another passphrase",
         [&] { testing::write_vault_file(vault_, entries_of({{"A", "other"}}), "QUILLBOX_OTHER"); },
         errors::HeaderMacMismatch{}},
        {"cut short",
         [&] {
             const std::string whole = read_file(vault_);
             testing::write_file(vault_, whole.substr(0, whole.size() - 1));
         },
         errors::CommitTagMismatch{}},
        {"damaged in place behind its commit tag",
         [&] {
             std::string damaged = read_file(vault_);
             damaged[120] = static_cast<char>(damaged[120] ^ 1);
             testing::write_file(vault_, damaged);
         },
         errors::CommitTagMismatch{}},
        {"opened to others",
         [&] {
             std::filesystem::permissions(vault_, std::filesystem::perms::others_read,
                                          std::filesystem::perm_options::add);
         },
         errors::InsecurePermissions{vault_, 0100604}},
    };
    ScopedEnv other_passphrase("QUILLBOX_OTHER", "another passphrase");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VaultState state = open_with(entries_of({{"A", "1"}}));
        const std::string good = read_file(vault_);
        c.spoil();

        const Status refreshed = refresh_vault(state);
        ASSERT_FALSE(refreshed);
        EXPECT_EQ(refreshed.error(), c.error);
        EXPECT_EQ(list_entry_names(state), (Names{"A"}));
        EXPECT_EQ(state.find_value("A")->view(), "1");

        testing::write_vault_file(vault_, entries_of({{"A", "1"}, {"B", "2"}}));
        ASSERT_TRUE(refresh_vault(state));
        EXPECT_EQ(list_entry_names(state), (Names{"A", "B"}));
    }
}

// Times too recent to rule out a write within the same tick (the fake clock
// stands in 2024, so every file here is new to it) send the check to the
// commit tag alone: it names the file the state holds, so nothing is read
// under the lock, which another process holds here, and nothing is decoded,
// so that even an unset passphrase variable does not matter.
TEST_F(Store, RecentTimesAreSettledByTheCommitTagAlone) {
    VaultState state = open_with(entries_of({{"A", "1"}}));
    const std::uint64_t revision = state.revision();
    testing::LockHolder holder(dir_ / "vault.bin.lock", "1234\n");
    ScopedEnv unset(kPassphraseVariable, std::nullopt);
    testing::FakeClock clock;

    ASSERT_TRUE(refresh_vault(state, clock));
    EXPECT_EQ(clock.elapsed(), 0s);
    EXPECT_EQ(state.revision(), revision);
    ASSERT_TRUE(state.file_identity().has_value());
    EXPECT_FALSE(state.file_identity()->settled);
}

}  // namespace
}  // namespace quillbox
