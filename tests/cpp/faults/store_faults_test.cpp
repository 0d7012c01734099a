#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/unique_fd.hpp"
#include "faults/call_failure.hpp"
#include "support/core_error_printer.hpp"
#include "support/store_support.hpp"
#include "support/vault_test_support.hpp"
#include "vault/format.hpp"
#include "vault/lockfile.hpp"
#include "vault/store.hpp"
#include "vault/transfer.hpp"
#include "vault/vault_creation.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kNewPassphraseVariable = "QUILLBOX_FAULT_TEST_NEW_PASSPHRASE";

const Pairs kOldEntries = {{"alpha", "1"}, {"beta", "2"}};

Pairs pairs_of(const VaultEntries& entries) {
    Pairs pairs;
    for (const VaultEntry& entry : entries) pairs.emplace_back(entry.name, entry.value.view());
    return pairs;
}

VaultEntries entries_from(const Pairs& pairs) {
    VaultEntries entries;
    for (const auto& [name, value] : pairs) entries.push_back(make_entry(name, value));
    return entries;
}

// The entries of a vault file as the store's own open reads them, or the
// error's text.
std::variant<Pairs, std::string> decoded(const std::filesystem::path& path,
                                         std::string_view variable) {
    const Result<VaultState> state = open_vault(variable, path, false);
    if (!state) return state.error().to_text();
    return pairs_of(state->entries());
}

// One vault in a directory of its own, with the state opened on it.
struct Scene {
    TempDir dir;
    std::filesystem::path vault = dir / "vault.bin";
    std::optional<VaultState> state;
};

// What is there before the operation.
enum class Start {
    Nothing,    // no vault file
    VaultFile,  // the vault file with kOldEntries
    OpenVault,  // that file, and the state opened on it
};

struct StoreOperation {
    std::string name;
    // Run on a prepared scene.
    std::function<Status(Scene&)> run;
    Start start;
    // What the vault file holds after a success, and the variable that reads it.
    Pairs after;
    std::string after_variable;
    // What the state may hold after a failure: a change made before the save
    // stays in memory, unsaved.
    std::vector<Pairs> kept_after_failure;
    // The file that an export writes, in the scene's directory.
    std::optional<std::string> exported;
};

void PrintTo(const StoreOperation& operation, std::ostream* out) {
    *out << operation.name;
}

std::vector<StoreOperation> store_operations() {
    return {
        {.name = "create",
         .run = [](Scene& scene) -> Status {
             const Result<std::filesystem::path> created =
                 create_vault_file(scene.vault, kTinyParams, kPassphraseVariable);
             if (!created) return fail(created.error());
             return {};
         },
         .start = Start::Nothing,
         .after = {},
         .after_variable = kPassphraseVariable,
         .kept_after_failure = {},
         .exported = std::nullopt},
        {.name = "open",
         .run = [](Scene& scene) -> Status {
             Result<VaultState> state = open_vault(kPassphraseVariable, scene.vault, false);
             if (!state) return fail(state.error());
             scene.state = std::move(*state);
             return {};
         },
         .start = Start::VaultFile,
         .after = kOldEntries,
         .after_variable = kPassphraseVariable,
         .kept_after_failure = {},
         .exported = std::nullopt},
        {.name = "set",
         .run = [](Scene& scene) { return set_entry(*scene.state, "gamma", SecretBytes("3")); },
         .start = Start::OpenVault,
         .after = {{"alpha", "1"}, {"beta", "2"}, {"gamma", "3"}},
         .after_variable = kPassphraseVariable,
         .kept_after_failure = {{{"alpha", "1"}, {"beta", "2"}, {"gamma", "3"}}},
         .exported = std::nullopt},
        {.name = "delete",
         .run = [](Scene& scene) -> Status {
             const Result<bool> deleted = delete_entry(*scene.state, "alpha");
             if (!deleted) return fail(deleted.error());
             return {};
         },
         .start = Start::OpenVault,
         .after = {{"beta", "2"}},
         .after_variable = kPassphraseVariable,
         .kept_after_failure = {{{"beta", "2"}}},
         .exported = std::nullopt},
        {.name = "export",
         .run = [](Scene& scene) { return export_vault(*scene.state, scene.dir / "export.bin"); },
         .start = Start::OpenVault,
         .after = kOldEntries,
         .after_variable = kPassphraseVariable,
         .kept_after_failure = {kOldEntries},
         .exported = "export.bin"},
        {.name = "import",
         .run = [](Scene& scene) -> Status {
             const Result<ImportCounts> imported =
                 import_vault_file(*scene.state, scene.dir / "import.bin", true, std::nullopt);
             if (!imported) return fail(imported.error());
             return {};
         },
         .start = Start::OpenVault,
         .after = {{"alpha", "1"}, {"beta", "20"}, {"delta", "4"}},
         .after_variable = kPassphraseVariable,
         // Merged only once the file to import is read.
         .kept_after_failure = {kOldEntries, {{"alpha", "1"}, {"beta", "20"}, {"delta", "4"}}},
         .exported = std::nullopt},
        {.name = "rekey",
         .run =
             [](Scene& scene) {
                 return rekey_vault(*scene.state, kNewPassphraseVariable, kTinyParams);
             },
         .start = Start::OpenVault,
         .after = kOldEntries,
         .after_variable = kNewPassphraseVariable,
         .kept_after_failure = {kOldEntries},
         .exported = std::nullopt},
    };
}

// A file to import, and what the operation starts from.
void prepare(Scene& scene, const StoreOperation& operation) {
    write_vault_file(scene.dir / "import.bin", entries_of({{"beta", "20"}, {"delta", "4"}}));
    if (operation.start == Start::Nothing) return;
    write_vault_file(scene.vault, entries_from(kOldEntries));
    if (operation.start == Start::OpenVault) {
        Result<VaultState> state = open_vault(kPassphraseVariable, scene.vault, false);
        if (!state) throw std::runtime_error(state.error().to_text());
        scene.state = std::move(*state);
    }
}

std::vector<std::string> temporaries_in(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp.") != std::string::npos) names.push_back(name);
    }
    return names;
}

bool lock_is_free(const std::filesystem::path& vault) {
    const UniqueFd fd(::open(lockfile_path(vault).c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid()) return errno == ENOENT;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

// What must hold after the operation ended with `status`.
void check_aftermath(const StoreOperation& operation, Scene& scene, const Status& status) {
    EXPECT_EQ(temporaries_in(scene.dir.path()), std::vector<std::string>{});
    EXPECT_TRUE(lock_is_free(scene.vault));

    using Decoded = std::variant<Pairs, std::string>;
    if (status) {
        EXPECT_EQ(decoded(scene.vault, operation.after_variable), Decoded(operation.after));
    } else if (operation.start == Start::Nothing) {
        EXPECT_FALSE(std::filesystem::exists(scene.vault));
    } else {
        EXPECT_EQ(decoded(scene.vault, kPassphraseVariable), Decoded(kOldEntries));
    }
    if (operation.exported) {
        const std::filesystem::path exported = scene.dir / *operation.exported;
        if (status) {
            EXPECT_EQ(decoded(exported, kPassphraseVariable), Decoded(kOldEntries));
        } else {
            EXPECT_FALSE(std::filesystem::exists(exported));
        }
    }

    if (!scene.state) {
        // The file opened above, if there is one; where the create failed,
        // the next one works.
        if (!status && operation.start == Start::Nothing) {
            EXPECT_TRUE(create_vault_file(scene.vault, kTinyParams, kPassphraseVariable));
        }
        return;
    }
    const VaultState& state = *scene.state;
    if (status) {
        EXPECT_EQ(pairs_of(state.entries()), operation.after);
    } else {
        const Pairs held = pairs_of(state.entries());
        EXPECT_NE(std::ranges::find(operation.kept_after_failure, held),
                  operation.kept_after_failure.end())
            << "the state holds " << ::testing::PrintToString(held);
    }
    EXPECT_EQ(state.master_key_env(),
              status ? operation.after_variable : std::string(kPassphraseVariable));

    // The state knows the file for the one it holds: a refresh keeps it as it
    // is, and the next save needs no merge.
    const std::string image = read_file(scene.vault);
    EXPECT_EQ(state.file_commit_tag(),
              commit_tag_of({reinterpret_cast<const unsigned char*>(image.data()), image.size()}));
    const Pairs before_refresh = pairs_of(state.entries());
    const Status refreshed = refresh_vault(*scene.state);
    EXPECT_TRUE(refreshed) << refreshed.error().to_text();
    EXPECT_EQ(pairs_of(state.entries()), before_refresh);

    // The next save works, and the file then holds what the state holds.
    const Status next = set_entry(*scene.state, "omega", SecretBytes("9"));
    EXPECT_TRUE(next) << next.error().to_text();
    EXPECT_EQ(decoded(scene.vault, state.master_key_env()), Decoded(pairs_of(state.entries())));
    EXPECT_TRUE(lock_is_free(scene.vault));
}

// Runs the operation with the `n`th store call failing; the call that failed,
// or nothing when the operation made fewer calls.
std::optional<SystemCall> run_failing(const StoreOperation& operation, std::uint64_t n,
                                      int error_number) {
    Scene scene;
    prepare(scene, operation);
    std::optional<SystemCall> failed;
    std::optional<Status> status;
    try {
        const FailNthCall failure(store_calls(), n, error_number);
        status = operation.run(scene);
        failed = failure.failed_call();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "threw: " << error.what();
        return std::nullopt;
    }
    SCOPED_TRACE(::testing::Message() << operation.name << ": call " << n << " ("
                                      << (failed ? call_name(*failed) : "none reached")
                                      << ") failing with " << std::strerror(error_number));
    if (!failed) EXPECT_TRUE(*status) << status->error().to_text();
    check_aftermath(operation, scene, *status);
    return failed;
}

class StoreUnderFailures : public ::testing::TestWithParam<StoreOperation> {
protected:
    ScopedEnv passphrase_{kPassphraseVariable, "correct horse"};
    ScopedEnv new_passphrase_{kNewPassphraseVariable, "battery staple"};
};

// Every call the operation makes fails in turn, with EIO and, where it puts
// bytes on storage, with ENOSPC, until the operation runs out of calls.
TEST_P(StoreUnderFailures, EndsCleanlyWhicheverCallFails) {
    const StoreOperation& operation = GetParam();
    std::uint64_t injected = 0;
    for (std::uint64_t n = 1;; ++n) {
        const std::optional<SystemCall> failed = run_failing(operation, n, EIO);
        if (!failed || HasFailure()) break;
        ++injected;
        if (writes_to_storage(*failed)) {
            run_failing(operation, n, ENOSPC);
            ++injected;
        }
    }
    RecordProperty("injected_failures", std::to_string(injected));
    std::cout << operation.name << ": " << injected << " injected failures\n";
}

// A directory on the way to a new vault that cannot be examined is not taken
// for one yet to be made: the vault is not created past it.
TEST(CreateUnderFailures, RefusesADirectoryOnTheWayThatCannotBeExamined) {
    const ScopedEnv passphrase(kPassphraseVariable, "correct horse");
    const TempDir dir;
    const std::filesystem::path vault = dir / "vault.bin";
    // The first stat asks for the vault file itself; the exclusive create
    // stands in for that one.
    for (std::uint64_t n = 2;; ++n) {
        std::optional<SystemCall> failed;
        Result<std::filesystem::path> created = fail(errors::VaultNotFound{vault});
        {
            const FailNthCall failure(calls_of({SystemCall::Stat}), n, EIO);
            created = create_vault_file(vault, kTinyParams, kPassphraseVariable);
            failed = failure.failed_call();
        }
        if (!failed) {
            EXPECT_TRUE(created);
            break;
        }
        SCOPED_TRACE(::testing::Message() << "stat " << n << " failing");
        ASSERT_FALSE(created);
        EXPECT_FALSE(std::filesystem::exists(vault));
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, StoreUnderFailures, ::testing::ValuesIn(store_operations()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillbox
