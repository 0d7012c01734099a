// A vault in a directory that another local user can write: an owner and an
// attacker, both unprivileged, share a group-writable directory (mode 2770).
// Whatever the attacker plants there, the owner's operations fail at once
// with an error that names the path, and nothing outside the vault changes.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/store_support.hpp"
#include "support/vault_test_support.hpp"
#include "vault/store.hpp"
#include "vault/vault_creation.hpp"

namespace quillbox {
namespace {

using testing::kPassphraseVariable;
using testing::read_file;
using testing::ScopedEnv;

constexpr uid_t kOwner = 61001;
constexpr uid_t kAttacker = 61002;
constexpr gid_t kTeam = 61000;

// Exit codes of the owner's process beyond its own verdict.
constexpr int kCouldNotBecomeUser = 90;
constexpr int kNotReached = 91;

void become(uid_t user) {
    const gid_t groups[] = {kTeam};
    if (::setgroups(1, groups) != 0 || ::setgid(kTeam) != 0 || ::setuid(user) != 0) {
        ::_exit(kCouldNotBecomeUser);
    }
}

int as_user(uid_t user, const std::function<bool()>& body) {
    return testing::run_in_child([&] {
               become(user);
               return body() ? 0 : 1;
           })
        .exit_code;
}

// The owner's process does `before`; then the attacker does `attack`, knowing
// the owner's process ID; then the same owner's process goes on with `after`.
// The exit code of the owner's process: 0 when `after` held.
int owner_attacked_midway(const std::function<bool()>& before,
                          const std::function<bool(pid_t)>& attack,
                          const std::function<bool()>& after) {
    int ready[2];
    int resume[2];
    if (::pipe(ready) != 0 || ::pipe(resume) != 0) return kNotReached;
    const pid_t owner = ::fork();
    if (owner == 0) {
        become(kOwner);
        char step = before() ? 1 : 0;
        if (::write(ready[1], &step, 1) != 1 || ::read(resume[0], &step, 1) != 1 || step == 0) {
            ::_exit(kNotReached);
        }
        ::_exit(after() ? 0 : 1);
    }
    char step = 0;
    const bool prepared = ::read(ready[0], &step, 1) == 1 && step == 1;
    step = prepared && as_user(kAttacker, [&] { return attack(owner); }) == 0 ? 1 : 0;
    (void)!::write(resume[1], &step, 1);
    for (const int fd : {ready[0], ready[1], resume[0], resume[1]}) ::close(fd);
    int status = 0;
    ::waitpid(owner, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : kNotReached;
}

bool is_unsafe_path(const CoreError& error, const std::filesystem::path& path,
                    std::string_view problem) {
    const auto* unsafe = std::get_if<errors::UnsafePath>(&error.detail());
    return unsafe != nullptr && unsafe->path == path && unsafe->problem.starts_with(problem);
}

class SharedDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "switching between two users needs root";
        ::chmod(base_.path().c_str(), 0755);
        std::filesystem::create_directory(shared_);
        ::chown(shared_.c_str(), kOwner, kTeam);
        ::chmod(shared_.c_str(), 02770);
        std::filesystem::create_directory(home_);
        ::chown(home_.c_str(), kOwner, kOwner);
        ::chmod(home_.c_str(), 0700);
        ASSERT_EQ(as_user(kOwner,
                          [&] {
                              testing::write_vault_file(vault_, testing::entries_of({{"A", "1"}}));
                              testing::write_file(private_file_, "mine");
                              return true;
                          }),
                  0);
    }

    testing::TempDir base_;
    ScopedEnv passphrase_{kPassphraseVariable, "correct horse"};
    std::filesystem::path shared_ = base_ / "shared";
    std::filesystem::path home_ = base_ / "home";
    std::filesystem::path vault_ = shared_ / "vault.bin";
    std::filesystem::path lockfile_ = shared_ / "vault.bin.lock";
    std::filesystem::path private_file_ = home_ / "private.bin";
};

// A link planted at the lockfile once made a save empty, or create, the file
// it points to.
TEST_F(SharedDirectory, ALinkAtTheLockfileWritesNothingThroughIt) {
    for (const std::filesystem::path& target : {private_file_, home_ / "absent.bin"}) {
        SCOPED_TRACE(target);
        const std::string vault_before = read_file(vault_);
        std::optional<VaultState> state;
        const int owner = owner_attacked_midway(
            [&] {
                Result<VaultState> opened = open_vault(kPassphraseVariable, vault_, false);
                if (opened) state.emplace(std::move(*opened));
                return state.has_value();
            },
            [&](pid_t) {
                ::unlink(lockfile_.c_str());
                return ::symlink(target.c_str(), lockfile_.c_str()) == 0;
            },
            [&] {
                const Status saved = set_entry(*state, "B", SecretBytes(std::string_view("2")));
                const Result<VaultState> reopened = open_vault(kPassphraseVariable, vault_, false);
                return !saved && is_unsafe_path(saved.error(), lockfile_, "is a symbolic link") &&
                       !reopened &&
                       is_unsafe_path(reopened.error(), lockfile_, "is a symbolic link");
            });
        EXPECT_EQ(owner, 0);
        EXPECT_EQ(read_file(private_file_), "mine");
        EXPECT_FALSE(std::filesystem::exists(home_ / "absent.bin"));
        EXPECT_EQ(read_file(vault_), vault_before);
        ::unlink(lockfile_.c_str());
    }
}

// What the attacker puts at the lockfile or the vault path is refused before
// anything waits on it or reads from it.
TEST_F(SharedDirectory, PlantedFilesAreRefusedAtOnce) {
    struct Case {
        const char* name;
        std::filesystem::path path;
        std::function<bool(const std::filesystem::path&)> plant;
        std::string problem;
    };
    const auto fifo = [](const std::filesystem::path& path) {
        return ::mkfifo(path.c_str(), 0666) == 0;
    };
    const auto own_file = [](const std::filesystem::path& path) {
        testing::write_file(path, "");
        return ::chmod(path.c_str(), 0666) == 0;
    };
    const auto link_to_zero = [](const std::filesystem::path& path) {
        return ::symlink("/dev/zero", path.c_str()) == 0;
    };
    const std::string other_user = "is owned by another user (uid " + std::to_string(kAttacker);
    const Case cases[] = {
        {"FIFO at the lockfile", lockfile_, fifo, "is a FIFO"},
        {"attacker's lockfile", lockfile_, own_file, other_user},
        {"link to /dev/zero at the lockfile", lockfile_, link_to_zero, "is a symbolic link"},
        {"FIFO at the vault", vault_, fifo, "is a FIFO"},
        {"attacker's vault", vault_, own_file, other_user},
        {"link to /dev/zero at the vault", vault_, link_to_zero, "is a device"},
    };
    const std::string vault_image = read_file(vault_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(c.path.c_str());
        ASSERT_EQ(as_user(kAttacker, [&] { return c.plant(c.path); }), 0);
        EXPECT_EQ(as_user(kOwner,
                          [&] {
                              const Result<VaultState> opened =
                                  open_vault(kPassphraseVariable, vault_, false);
                              return !opened && is_unsafe_path(opened.error(), c.path, c.problem);
                          }),
                  0);
        ::unlink(c.path.c_str());
        if (c.path == vault_) {
            testing::write_file(vault_, vault_image);
            ::chown(vault_.c_str(), kOwner, kTeam);
            ::chmod(vault_.c_str(), 0600);
        }
    }
}

// The attacker, knowing the owner's process ID, takes the name the owner's
// temporary file would have if that ID were all of it, with a directory the
// owner cannot remove. The name the owner uses is not to be guessed: the save
// goes through, and what the attacker planted stays as it was.
TEST_F(SharedDirectory, APlantedTemporaryNameDoesNotStopTheSave) {
    std::optional<VaultState> state;
    const int owner = owner_attacked_midway(
        [&] {
            Result<VaultState> opened = open_vault(kPassphraseVariable, vault_, false);
            if (opened) state.emplace(std::move(*opened));
            return state.has_value();
        },
        [&](pid_t owner_pid) {
            const auto planted = shared_ / ("vault.bin.tmp." + std::to_string(owner_pid));
            return ::mkdir(planted.c_str(), 0700) == 0 &&
                   ::mkdir((planted / "inside").c_str(), 0700) == 0;
        },
        [&] { return set_entry(*state, "B", SecretBytes(std::string_view("2"))).has_value(); });
    EXPECT_EQ(owner, 0);
    const VaultEntries saved = testing::read_vault_file(vault_);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1].name, "B");
    std::vector<std::string> planted;
    for (const auto& entry : std::filesystem::directory_iterator(shared_)) {
        if (std::filesystem::exists(entry.path() / "inside")) planted.push_back(entry.path());
    }
    EXPECT_EQ(planted.size(), 1u);
}

// A new vault is made only where no other user can replace it.
TEST_F(SharedDirectory, VaultsAreCreatedOnlyUnderDirectoriesNoOtherUserCanWrite) {
    const auto sticky = base_ / "tmp";
    std::filesystem::create_directory(sticky);
    ::chmod(sticky.c_str(), 01777);
    ASSERT_EQ(as_user(kAttacker, [&] { return ::mkdir((sticky / "planted").c_str(), 0777) == 0; }),
              0);
    ::chmod((sticky / "planted").c_str(), 0777);

    const auto created = [&](const std::filesystem::path& path) {
        return create_vault_file(path, testing::kTinyParams, kPassphraseVariable);
    };
    EXPECT_EQ(as_user(kOwner,
                      [&] {
                          const auto in_shared = created(shared_ / "new.bin");
                          const auto under_planted = created(sticky / "planted" / "new.bin");
                          return !in_shared &&
                                 is_unsafe_path(in_shared.error(), shared_,
                                                "can be written by other users") &&
                                 !under_planted &&
                                 is_unsafe_path(under_planted.error(), sticky / "planted",
                                                "is owned by another user");
                      }),
              0);
    // Under a sticky directory (as /tmp is), missing folders are made private.
    const auto nested = sticky / "own" / "deeper";
    EXPECT_EQ(as_user(kOwner, [&] { return created(nested / "vault.bin").has_value(); }), 0);
    EXPECT_EQ(testing::mode_of(sticky / "own") & 07777, 0700u);
    EXPECT_EQ(testing::mode_of(nested) & 07777, 0700u);
    EXPECT_FALSE(std::filesystem::exists(shared_ / "new.bin"));
}

}  // namespace
}  // namespace quillbox
